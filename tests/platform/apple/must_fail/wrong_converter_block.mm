// Must not compile: the converter's input block also reports whether it had data.
// expect: with an rvalue of type 'AVAudioBuffer * _Nullable (^)(AVAudioPacketCount)'
#import <AVFoundation/AVFoundation.h>

void convert(AVAudioConverter* converter, AVAudioPCMBuffer* output, AVAudioPCMBuffer* input) {
  NSError* error = nil;
  [converter convertToBuffer:output
                       error:&error
          withInputFromBlock:^AVAudioBuffer* _Nullable(AVAudioPacketCount) {
            return input;
          }];
}
