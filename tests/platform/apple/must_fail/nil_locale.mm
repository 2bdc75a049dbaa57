// Must not compile: the locale identifier may not be nil.
// expect: null passed to a callee that requires a non-null argument
#import <Foundation/Foundation.h>

NSLocale* noLocale() { return [NSLocale localeWithLocaleIdentifier:nil]; }
