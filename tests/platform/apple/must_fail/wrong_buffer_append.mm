// Must not compile: the request takes the PCM buffer itself, not its format.
// expect: parameter of type 'AVAudioPCMBuffer * _Nonnull' with an rvalue of type 'AVAudioFormat *'
#import <Speech/Speech.h>

void append(SFSpeechAudioBufferRecognitionRequest* request, AVAudioPCMBuffer* buffer) {
  [request appendAudioPCMBuffer:buffer.format];
}
