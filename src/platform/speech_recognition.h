#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/audio_input.h"
#include "platform/locale.h"

namespace mic {

// Raw values as the operating system reports them.
enum class SpeechAuthorizationStatus : int {
  notDetermined = 0,
  denied = 1,
  restricted = 2,
  authorized = 3,
};

struct RecognitionResult {
  std::string formattedString;  // the whole transcription so far, as display text
  bool isFinal = false;         // true on the last result of the task
};

struct RecognitionError {
  std::string localizedDescription;  // a human-readable sentence, passed on unchanged
  // The recognizer's own report that it heard no speech (isNoSpeechError): with nothing heard,
  // the run's outcome is "nothing was heard", not a failure.
  bool noSpeech = false;
};

// Called any number of times, on any thread, with a result, an error, or both.
using RecognitionResultHandler =
    std::function<void(std::optional<RecognitionResult>, std::optional<RecognitionError>)>;

// A request that accepts audio buffers.
class SpeechRecognitionRequest {
 public:
  virtual ~SpeechRecognitionRequest() = default;
  // When set, audio never leaves the machine.
  virtual void setRequiresOnDeviceRecognition(bool required) = 0;
  virtual void setShouldReportPartialResults(bool report) = 0;
  // Called on the audio thread with a buffer it does not own: takes what it needs before
  // returning and never waits on the decoder or the main thread.
  virtual void append(const AudioPCMBuffer& buffer) = 0;
  // No more audio will come; the task finishes with what it has. Main thread.
  virtual void endAudio() = 0;
};

class RecognitionTask {
 public:
  virtual ~RecognitionTask() = default;
  // No further work; reports that still arrive are harmless. Main thread.
  virtual void cancel() = 0;
  // Seconds of the audio given to the task that it has not recognized yet. While a recognizer is
  // behind the microphone, a while without new words is not a pause of the speaker. One that
  // keeps up with the microphone, as the system's does, has none. Main thread.
  virtual double backlogDuration() const { return 0; }
};

class SpeechRecognizer {
 public:
  virtual ~SpeechRecognizer() = default;
  // True only if recognition for this locale runs without leaving the machine.
  virtual bool supportsOnDeviceRecognition() const = 0;
  // Starts recognizing `request`; `handler` gets every report of the task. Main thread.
  virtual std::shared_ptr<RecognitionTask> recognitionTask(
      std::shared_ptr<SpeechRecognitionRequest> request, RecognitionResultHandler handler) = 0;
};

class SpeechRecognitionService {
 public:
  virtual ~SpeechRecognitionService() = default;
  // `handler` is called once, on any thread.
  virtual void requestAuthorization(std::function<void(SpeechAuthorizationStatus)> handler) = 0;
  // A recognizer for the locale, or null when the locale is not supported. Main thread.
  virtual std::shared_ptr<SpeechRecognizer> makeRecognizer(const Locale& locale) = 0;
  // An empty request that accepts audio buffers. Main thread.
  virtual std::shared_ptr<SpeechRecognitionRequest> makeRequest() = 0;
};

}  // namespace mic
