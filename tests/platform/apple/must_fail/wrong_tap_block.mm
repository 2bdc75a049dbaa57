// Must not compile: the tap block receives the buffer first and its time second.
// expect: parameter of type 'AVAudioNodeTapBlock
#import <AVFoundation/AVFoundation.h>

void installTap(AVAudioEngine* engine) {
  AVAudioInputNode* node = engine.inputNode;
  [node installTapOnBus:0
             bufferSize:1024
                 format:[node outputFormatForBus:0]
                  block:^(AVAudioTime* when, AVAudioPCMBuffer* buffer) {
                    (void)when;
                    (void)buffer;
                  }];
}
