// Must not compile: a timer's block receives the timer.
// expect: (NSTimer * _Nonnull __strong)' with an rvalue of type 'void (^)()'
#import <Foundation/Foundation.h>

NSTimer* tick(void (^handler)(void)) {
  return [NSTimer timerWithTimeInterval:0.2
                                repeats:YES
                                  block:^{
                                    handler();
                                  }];
}
