// The root class and protocol. Like the runtime's own, not annotated for nullability.
#pragma once

#include <objc/objc.h>

@class NSString;

@protocol NSObject
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
