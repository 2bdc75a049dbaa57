// The Speech framework subset the program uses: authorization, the recognizer, the audio-buffer
// request, the task and its results. Declared from Apple's Speech documentation.
#pragma once

#include <AVFoundation/AVFoundation.h>
#include <Foundation/Foundation.h>

NS_ASSUME_NONNULL_BEGIN

typedef NS_ENUM(NSInteger, SFSpeechRecognizerAuthorizationStatus) {
  SFSpeechRecognizerAuthorizationStatusNotDetermined = 0,
  SFSpeechRecognizerAuthorizationStatusDenied = 1,
  SFSpeechRecognizerAuthorizationStatusRestricted = 2,
  SFSpeechRecognizerAuthorizationStatusAuthorized = 3,
};

typedef NS_ENUM(NSInteger, SFSpeechRecognitionTaskState) {
  SFSpeechRecognitionTaskStateStarting = 0,
  SFSpeechRecognitionTaskStateRunning = 1,
  SFSpeechRecognitionTaskStateFinishing = 2,
  SFSpeechRecognitionTaskStateCanceling = 3,
  SFSpeechRecognitionTaskStateCompleted = 4,
};

@interface SFTranscription : NSObject
@property(nonatomic, readonly, copy) NSString *formattedString;
@end

// Timing of the speech in a result; a result carries it when it closes an utterance.
API_AVAILABLE(macos(11.3))
@interface SFSpeechRecognitionMetadata : NSObject
@property(nonatomic, readonly) double speakingRate;
@property(nonatomic, readonly) NSTimeInterval averagePauseDuration;
@property(nonatomic, readonly) NSTimeInterval speechStartTimestamp;
@property(nonatomic, readonly) NSTimeInterval speechDuration;
@end

@interface SFSpeechRecognitionResult : NSObject
@property(nonatomic, readonly, copy) SFTranscription *bestTranscription;
@property(nonatomic, readonly, getter=isFinal) BOOL final;
@property(nonatomic, nullable, readonly)
    SFSpeechRecognitionMetadata *speechRecognitionMetadata API_AVAILABLE(macos(11.0));
@end

@interface SFSpeechRecognitionRequest : NSObject
@property(nonatomic) BOOL shouldReportPartialResults;
@property(nonatomic) BOOL requiresOnDeviceRecognition API_AVAILABLE(macos(10.15));
@property(nonatomic) BOOL addsPunctuation API_AVAILABLE(macos(13));
@end

@interface SFSpeechAudioBufferRecognitionRequest : SFSpeechRecognitionRequest
@property(nonatomic, readonly) AVAudioFormat *nativeAudioFormat;
- (void)appendAudioPCMBuffer:(AVAudioPCMBuffer *)audioPCMBuffer;
- (void)endAudio;
@end

@interface SFSpeechRecognitionTask : NSObject
@property(nonatomic, readonly) SFSpeechRecognitionTaskState state;
@property(nonatomic, readonly, getter=isFinishing) BOOL finishing;
@property(nonatomic, readonly, getter=isCancelled) BOOL cancelled;
@property(nonatomic, readonly, copy, nullable) NSError *error;
- (void)finish;
- (void)cancel;
@end

@interface SFSpeechRecognizer : NSObject
+ (SFSpeechRecognizerAuthorizationStatus)authorizationStatus;
+ (void)requestAuthorization:(void (^)(SFSpeechRecognizerAuthorizationStatus status))handler;
+ (NSSet<NSLocale *> *)supportedLocales;
- (nullable instancetype)init;
- (nullable instancetype)initWithLocale:(NSLocale *)locale NS_DESIGNATED_INITIALIZER;
@property(nonatomic, readonly, getter=isAvailable) BOOL available;
@property(nonatomic) BOOL supportsOnDeviceRecognition API_AVAILABLE(macos(10.15));
@property(nonatomic, readonly, copy) NSLocale *locale;
- (SFSpeechRecognitionTask *)recognitionTaskWithRequest:(SFSpeechRecognitionRequest *)request
                                          resultHandler:
                                              (void (^)(SFSpeechRecognitionResult *_Nullable result,
                                                        NSError *_Nullable error))resultHandler;
@end

NS_ASSUME_NONNULL_END
