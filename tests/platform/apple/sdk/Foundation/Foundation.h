// The Foundation subset the program uses: strings, errors, exceptions, locales, dates, timers, the
// run loop and notifications. Declared from Apple's Foundation documentation.
#pragma once

#include <objc/NSObject.h>
#include <objc/objc.h>
#include <stddef.h>
#include <stdint.h>

#include <dispatch/dispatch.h>

// The usual Apple macros, defined simply: what matters to the check is the declarations they wrap.
#define NS_ASSUME_NONNULL_BEGIN _Pragma("clang assume_nonnull begin")
#define NS_ASSUME_NONNULL_END _Pragma("clang assume_nonnull end")
#define NS_ENUM(type, name) \
  enum name : type name;    \
  enum name : type
#define NS_OPTIONS(type, name) NS_ENUM(type, name)
#define NS_DESIGNATED_INITIALIZER __attribute__((objc_designated_initializer))
#define NS_UNAVAILABLE __attribute__((unavailable))
#define NS_RETURNS_INNER_POINTER __attribute__((objc_returns_inner_pointer))
#define NS_TYPED_ENUM
#define NS_TYPED_EXTENSIBLE_ENUM
#define NS_SWIFT_NAME(name)
#define NS_SWIFT_SENDABLE
#define NS_NOESCAPE __attribute__((noescape))
#define API_AVAILABLE(...)
#define API_UNAVAILABLE(...)
#define API_DEPRECATED(...)
#ifdef __cplusplus
#define FOUNDATION_EXPORT extern "C"
#else
#define FOUNDATION_EXPORT extern
#endif

NS_ASSUME_NONNULL_BEGIN

typedef long NSInteger;
typedef unsigned long NSUInteger;
typedef double NSTimeInterval;

@class NSDictionary;

typedef NSUInteger NSStringEncoding;
enum : NSStringEncoding {
  NSASCIIStringEncoding = 1,
  NSUTF8StringEncoding = 4,
};

@interface NSString : NSObject
+ (nullable instancetype)stringWithUTF8String:(const char *)nullTerminatedCString;
- (nullable instancetype)initWithBytes:(const void *)bytes
                                length:(NSUInteger)len
                              encoding:(NSStringEncoding)encoding;
@property(readonly) NSUInteger length;
@property(nullable, readonly) const char *UTF8String NS_RETURNS_INNER_POINTER;
@end

// for-in loops go through this protocol.
typedef struct {
  unsigned long state;
  id __unsafe_unretained _Nullable *_Nullable itemsPtr;
  unsigned long *_Nullable mutationsPtr;
  unsigned long extra[5];
} NSFastEnumerationState;

@protocol NSFastEnumeration
- (NSUInteger)countByEnumeratingWithState:(NSFastEnumerationState *)state
                                  objects:(id __unsafe_unretained _Nullable[_Nonnull])buffer
                                    count:(NSUInteger)len;
@end

@interface NSSet<__covariant ObjectType> : NSObject <NSFastEnumeration>
@property(readonly) NSUInteger count;
- (BOOL)containsObject:(ObjectType)anObject;
@end

typedef NSString *NSErrorDomain NS_TYPED_EXTENSIBLE_ENUM;

@interface NSError : NSObject
@property(readonly, copy) NSErrorDomain domain;
@property(readonly) NSInteger code;
@property(readonly, copy) NSString *localizedDescription;
@end

typedef NSString *NSExceptionName NS_TYPED_EXTENSIBLE_ENUM;

@interface NSException : NSObject
@property(readonly, copy) NSExceptionName name;
@property(nullable, readonly, copy) NSString *reason;
@end

@interface NSLocale : NSObject
@property(class, readonly, copy) NSLocale *currentLocale;
@property(class, readonly, strong) NSLocale *autoupdatingCurrentLocale;
+ (instancetype)localeWithLocaleIdentifier:(NSString *)ident;
- (instancetype)initWithLocaleIdentifier:(NSString *)string NS_DESIGNATED_INITIALIZER;
@property(readonly, copy) NSString *localeIdentifier;
@end

@interface NSDate : NSObject
+ (instancetype)date;
+ (instancetype)dateWithTimeIntervalSinceNow:(NSTimeInterval)secs;
@property(class, readonly, copy) NSDate *distantFuture;
@property(class, readonly, copy) NSDate *distantPast;
@property(readonly) NSTimeInterval timeIntervalSince1970;
@end

@interface NSTimer : NSObject
+ (NSTimer *)timerWithTimeInterval:(NSTimeInterval)interval
                           repeats:(BOOL)repeats
                             block:(void (^)(NSTimer *timer))block API_AVAILABLE(macos(10.12));
+ (NSTimer *)scheduledTimerWithTimeInterval:(NSTimeInterval)interval
                                    repeats:(BOOL)repeats
                                      block:(void (^)(NSTimer *timer))block
    API_AVAILABLE(macos(10.12));
- (void)invalidate;
@property(readonly, getter=isValid) BOOL valid;
@property NSTimeInterval tolerance;
@end

@interface NSPort : NSObject
+ (NSPort *)port;
- (void)invalidate;
@end

// From CoreFoundation, which Foundation includes: the run loop beneath NSRunLoop.
typedef struct __CFRunLoop *CFRunLoopRef;
#ifdef __cplusplus
extern "C" {
#endif
CFRunLoopRef CFRunLoopGetMain(void);
void CFRunLoopStop(CFRunLoopRef rl);
#ifdef __cplusplus
}
#endif

typedef NSString *NSRunLoopMode NS_TYPED_EXTENSIBLE_ENUM;
FOUNDATION_EXPORT NSRunLoopMode const NSDefaultRunLoopMode;
FOUNDATION_EXPORT NSRunLoopMode const NSRunLoopCommonModes;

@interface NSRunLoop : NSObject
@property(class, readonly, strong) NSRunLoop *currentRunLoop;
@property(class, readonly, strong) NSRunLoop *mainRunLoop;
@property(nullable, readonly, copy) NSRunLoopMode currentMode;
- (void)addTimer:(NSTimer *)timer forMode:(NSRunLoopMode)mode;
- (void)addPort:(NSPort *)aPort forMode:(NSRunLoopMode)mode;
- (void)removePort:(NSPort *)aPort forMode:(NSRunLoopMode)mode;
- (BOOL)runMode:(NSRunLoopMode)mode beforeDate:(NSDate *)limitDate;
- (void)run;
@end

@interface NSThread : NSObject
@property(class, readonly) BOOL isMainThread;
@end

@class NSOperationQueue;

typedef NSString *NSNotificationName NS_TYPED_EXTENSIBLE_ENUM;

@interface NSNotification : NSObject
@property(readonly, copy) NSNotificationName name;
@property(nullable, readonly, retain) id object;
@end

@interface NSNotificationCenter : NSObject
@property(class, readonly, strong) NSNotificationCenter *defaultCenter;
- (id<NSObject>)addObserverForName:(nullable NSNotificationName)name
                            object:(nullable id)obj
                             queue:(nullable NSOperationQueue *)queue
                        usingBlock:(void (^)(NSNotification *notification))block;
- (void)removeObserver:(id)observer;
@end

NS_ASSUME_NONNULL_END
