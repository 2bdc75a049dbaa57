// Must not compile: a result handler that returns a value, where the framework wants one that
// returns nothing.
// expect: rvalue of type 'BOOL (^)(SFSpeechRecognitionResult
#import <Speech/Speech.h>

SFSpeechRecognitionTask* startTask(SFSpeechRecognizer* recognizer,
                                   SFSpeechAudioBufferRecognitionRequest* request) {
  return [recognizer recognitionTaskWithRequest:request
                                  resultHandler:^BOOL(SFSpeechRecognitionResult* _Nullable result,
                                                      NSError* _Nullable error) {
                                    return result != nil && error == nil;
                                  }];
}
