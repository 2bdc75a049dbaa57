// Must not compile: the sources are built with ARC, which forbids managing references by hand.
// expect: ARC forbids explicit message send of 'release'
#import <Foundation/Foundation.h>

void dropLocale(NSLocale* locale) { [locale release]; }
