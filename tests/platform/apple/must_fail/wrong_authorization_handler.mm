// Must not compile: the authorization answer is an SFSpeechRecognizerAuthorizationStatus, not a
// yes-or-no.
// expect: (SFSpeechRecognizerAuthorizationStatus)' with an rvalue of type 'void (^)(BOOL)'
#import <Speech/Speech.h>

void askForSpeech(void (^answer)(bool)) {
  [SFSpeechRecognizer requestAuthorization:^(BOOL authorized) {
    answer(authorized != NO);
  }];
}
