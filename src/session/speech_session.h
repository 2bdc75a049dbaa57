#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/mutex.h"
#include "platform/platform.h"

namespace mic {

// How the session hands out each event line (kind, text): the program's writer of standard
// output, or a recorder in tests. Main thread only.
using EmitFunction = std::function<void(std::string_view kind, std::string_view text)>;

// Carries one listening run from start to end. Every operation runs on the main thread; the only
// exception is onAudioBuffer, which runs on the audio thread and reads nothing but `request`.
// Create it with std::make_shared: handlers given to the platform hold it weakly or strongly.
class SpeechSession : public std::enable_shared_from_this<SpeechSession> {
 public:
  static constexpr uint32_t kInputBus = 0;
  static constexpr uint32_t kTapBufferSize = 1024;
  static constexpr double kSilenceTickInterval = 0.2;
  static constexpr double kSilenceThreshold = 1.4;
  static constexpr double kListeningLimit = 60.0;
  static constexpr double kDrainTime = 2.0;

  SpeechSession(std::optional<std::string> localeIdentifier, Platform platform, EmitFunction emit);

  // Announces the run and asks for speech recognition authorization.
  void start();
  // Picks the locale, connects the microphone to a request, starts task and engine, and arms
  // the stop triggers. Runs once, after both permissions were granted.
  void beginRecognition();
  // Stops the microphone, ends the request's audio and gives the recognizer the drain time.
  void stopInput();
  // The transcript ending: "final" and status 0, or "no speech was detected" and status 2.
  void complete();
  // The error ending: `message` as an "error" line and status 1.
  void fail(std::string_view message);
  // Releases timer, engine, tap, request and task. Harmless to repeat.
  void cleanUp();

  // Platform handlers. Each may be called on any thread unless it says otherwise.
  void onSpeechAuthorization(SpeechAuthorizationStatus status);
  void onMicrophoneAccess(bool granted);
  // Audio thread only. Never waits on the main thread.
  void onAudioBuffer(const AudioPCMBuffer& buffer, const AudioTime& when);
  void onRecognitionResult(std::optional<RecognitionResult> result,
                           std::optional<RecognitionError> error);
  // Capture ended on its own (the microphone or the sound server went away): listening stops as
  // a stop trigger stops it.
  void onCaptureEnded();
  // A stop asked for from outside (a signal; on macOS also the first process gone): listening
  // stops as a line on standard input stops it. Before listening has started, the run ends at
  // once as one that heard nothing; once it is stopping, nothing changes.
  void onStopRequest();

 private:
  void handleRecognitionReport(const std::optional<RecognitionResult>& result,
                               const std::optional<RecognitionError>& error);
  // How far into the microphone's audio the recognizer has got, on the clock: now, less the audio
  // it has still to recognize. The pause is counted on this, so a recognizer that is busy (a
  // costly end of a segment, a loaded machine) is not taken for a speaker who stopped.
  double recognizedUntil() const;
  void onSilenceTick();
  void watchStandardInput();
  void onListeningLimit();
  void stopOnRequest();
  void finishAfterDrain();
  // Stops the engine and removes the tap, so no buffer arrives after it returns.
  void stopMicrophone();
  std::shared_ptr<SpeechRecognitionRequest> takeRequest();

  Platform platform_;
  EmitFunction emit_;

  const std::optional<std::string> localeIdentifier_;
  const std::unique_ptr<AudioEngine> engine_;
  // The one field the audio thread reads: guarded so its read cannot race cleanUp.
  Mutex requestMutex_;
  std::shared_ptr<SpeechRecognitionRequest> request_ GUARDED_BY(requestMutex_);
  std::shared_ptr<RecognitionTask> task_;
  std::shared_ptr<SpeechRecognizer> recognizer_;
  std::string lastText_;
  double lastChange_;  // recognizedUntil() when the transcript last changed
  bool heardSpeech_ = false;
  bool tapInstalled_ = false;
  bool stopping_ = false;
  bool finished_ = false;
  std::shared_ptr<RepeatingTimer> timer_;
};

}  // namespace mic
