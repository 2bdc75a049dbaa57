// Must not compile: AVAudioEngine starts with startAndReturnError:, there is no startWithError:.
// expect: no visible @interface for 'AVAudioEngine' declares the selector 'startWithError:'
#import <AVFoundation/AVFoundation.h>

bool startEngine(AVAudioEngine* engine) {
  NSError* error = nil;
  return [engine startWithError:&error] != NO;
}
