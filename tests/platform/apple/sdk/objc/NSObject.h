// The root class and protocol. Like the runtime's own, not annotated for nullability.
#pragma once

#include <objc/objc.h>

@class NSString;

#if __has_feature(objc_arc)
#define OBJC_ARC_UNAVAILABLE \
  __attribute__((unavailable("not available in automatic reference counting mode")))
#else
#define OBJC_ARC_UNAVAILABLE
#endif

@protocol NSObject
- (instancetype)retain OBJC_ARC_UNAVAILABLE;
- (oneway void)release OBJC_ARC_UNAVAILABLE;
- (instancetype)autorelease OBJC_ARC_UNAVAILABLE;
- (BOOL)isEqual:(id)object;
- (BOOL)isKindOfClass:(Class)aClass;
@property(readonly, copy) NSString *description;
@end

__attribute__((objc_root_class))
@interface NSObject<NSObject>
+ (instancetype)alloc;
+ (instancetype)new;
- (instancetype)init;
+ (Class)class;
@end
