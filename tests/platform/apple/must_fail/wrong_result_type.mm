// Must not compile: bestTranscription is an SFTranscription; its text is formattedString.
// expect: with an rvalue of type 'SFTranscription *'
#import <Speech/Speech.h>

NSString* textOf(SFSpeechRecognitionResult* result) {
  NSString* text = result.bestTranscription;
  return text;
}
