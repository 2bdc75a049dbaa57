#include "platform/apple/apple_speech_recognition.h"

#import <AVFoundation/AVFoundation.h>
#import <Foundation/Foundation.h>
#import <Speech/Speech.h>

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/apple/apple_audio_input.h"
#include "platform/apple/apple_strings.h"
#include "platform/apple/language_match.h"
#include "platform/apple/recognition_errors.h"
#include "transcript/transcript_join.h"

namespace mic {
namespace {

class AppleRecognitionRequest final : public SpeechRecognitionRequest {
 public:
  AppleRecognitionRequest() : request_([[SFSpeechAudioBufferRecognitionRequest alloc] init]) {}

  SFSpeechAudioBufferRecognitionRequest* native() const { return request_; }

  void setRequiresOnDeviceRecognition(bool required) override {
    request_.requiresOnDeviceRecognition = required ? YES : NO;
  }

  void setShouldReportPartialResults(bool report) override {
    request_.shouldReportPartialResults = report ? YES : NO;
  }

  // The capture buffer goes in as it is: the framework queues it and converts what it needs.
  void append(const AudioPCMBuffer& buffer) override {
    AVAudioPCMBuffer* native = nativeAudioBuffer(buffer);
    if (native == nil) return;  // not from our engine: nothing the framework could take
    @autoreleasepool {
      @try {
        [request_ appendAudioPCMBuffer:native];
      } @catch (NSException*) {
        // A buffer the framework refuses is dropped; the audio thread must not unwind.
      }
    }
  }

  void endAudio() override { [request_ endAudio]; }

 private:
  // Set once; the audio thread only sends it messages.
  SFSpeechAudioBufferRecognitionRequest* const request_;
};

class AppleRecognitionTask final : public RecognitionTask {
 public:
  explicit AppleRecognitionTask(SFSpeechRecognitionTask* _Nullable task) : task_(task) {}

  void cancel() override { [task_ cancel]; }

 private:
  SFSpeechRecognitionTask* _Nullable const task_;
};

// One task's transcript so far. On macOS 14 and later the recognizer starts formattedString over
// after a pause, with isFinal still false; the result that closes the stretch before it carries
// speechRecognitionMetadata. SFTranscriptionSegment timings cannot tell the restart: partial
// results carry placeholder ones (0 s, then 0.011 s a word) until that closing result.
struct TaskTranscript {
  std::mutex mutex;
  TranscriptJoin join;
};

void reportRecognition(const RecognitionResultHandler& handler, TaskTranscript& transcript,
                       SFSpeechRecognitionResult* _Nullable result, NSError* _Nullable error) {
  std::optional<RecognitionResult> converted;
  if (result != nil) {
    const StretchResult stretch{toStdString(result.bestTranscription.formattedString), std::nullopt,
                                result.speechRecognitionMetadata != nil};
    std::lock_guard lock(transcript.mutex);
    converted = RecognitionResult{transcript.join.update(stretch), result.isFinal != NO};
  }
  std::optional<RecognitionError> failure;
  if (error != nil) {
    failure = RecognitionError{toStdString(error.localizedDescription),
                               isNoSpeechError(toStdString(error.domain), error.code)};
  }
  handler(std::move(converted), std::move(failure));
}

class AppleSpeechRecognizer final : public SpeechRecognizer {
 public:
  explicit AppleSpeechRecognizer(SFSpeechRecognizer* recognizer) : recognizer_(recognizer) {}

  bool supportsOnDeviceRecognition() const override {
    return recognizer_.supportsOnDeviceRecognition != NO;
  }

  std::shared_ptr<RecognitionTask> recognitionTask(
      std::shared_ptr<SpeechRecognitionRequest> request,
      RecognitionResultHandler handler) override {
    auto* ours = dynamic_cast<AppleRecognitionRequest*>(request.get());
    if (ours == nullptr) {
      handler(std::nullopt, RecognitionError{"the recognition request does not accept audio"});
      return std::make_shared<AppleRecognitionTask>(nil);
    }
    @autoreleasepool {
      @try {
        // The framework keeps the block for the life of the task; it holds only the handler,
        // which holds its session weakly, and the task's transcript.
        auto transcript = std::make_shared<TaskTranscript>();
        SFSpeechRecognitionTask* task =
            [recognizer_ recognitionTaskWithRequest:ours->native()
                                      resultHandler:^(SFSpeechRecognitionResult* _Nullable result,
                                                      NSError* _Nullable error) {
                                        reportRecognition(handler, *transcript, result, error);
                                      }];
        return std::make_shared<AppleRecognitionTask>(task);
      } @catch (NSException* exception) {
        handler(std::nullopt, RecognitionError{describeException(exception)});
        return std::make_shared<AppleRecognitionTask>(nil);
      }
    }
  }

 private:
  SFSpeechRecognizer* const recognizer_;
};

class AppleSpeechRecognitionService final : public SpeechRecognitionService {
 public:
  void requestAuthorization(std::function<void(SpeechAuthorizationStatus)> handler) override {
    @autoreleasepool {
      [SFSpeechRecognizer requestAuthorization:^(SFSpeechRecognizerAuthorizationStatus status) {
        // The raw value goes through: anything but authorized is a refusal to the session.
        handler(static_cast<SpeechAuthorizationStatus>(status));
      }];
    }
  }

  // The locale asked for, or the user's, often names a region the recognizer lacks ("en_DE") or
  // carries keywords ("en_US@rg=dezzzz", a region override): the recognizer is made for the
  // supported locale that serves it best, never for another language.
  std::shared_ptr<SpeechRecognizer> makeRecognizer(const Locale& locale) override {
    @autoreleasepool {
      std::vector<std::string> supported;
      for (NSLocale* offered in SFSpeechRecognizer.supportedLocales)
        supported.push_back(toStdString(offered.localeIdentifier));
      const std::optional<std::string> best = bestSupportedLocale(locale.identifier, supported);
      if (!best) return nullptr;
      NSString* identifier = toNSString(*best);
      if (identifier == nil) return nullptr;
      SFSpeechRecognizer* recognizer = [[SFSpeechRecognizer alloc]
          initWithLocale:[NSLocale localeWithLocaleIdentifier:identifier]];
      if (recognizer == nil) return nullptr;
      // For a locale it cannot recognise, initWithLocale: answers with a recognizer for the
      // language of the keyboard's dictation instead of nil.
      if (!servesLanguage(*best, toStdString(recognizer.locale.localeIdentifier), supported))
        return nullptr;
      return std::make_shared<AppleSpeechRecognizer>(recognizer);
    }
  }

  std::shared_ptr<SpeechRecognitionRequest> makeRequest() override {
    @autoreleasepool {
      return std::make_shared<AppleRecognitionRequest>();
    }
  }
};

}  // namespace

std::unique_ptr<SpeechRecognitionService> makeAppleSpeechRecognitionService() {
  return std::make_unique<AppleSpeechRecognitionService>();
}

}  // namespace mic
