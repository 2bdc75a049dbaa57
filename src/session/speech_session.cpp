#include "session/speech_session.h"

#include <cctype>
#include <utility>

#include "session/transcript_text.h"

namespace mic {
namespace {

bool isAutoKeyword(const std::string& identifier) {
  static constexpr std::string_view kAuto = "auto";
  if (identifier.size() != kAuto.size()) return false;
  for (size_t i = 0; i < kAuto.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(identifier[i])) != kAuto[i]) return false;
  }
  return true;
}

}  // namespace

SpeechSession::SpeechSession(std::optional<std::string> localeIdentifier, Platform platform,
                             EmitFunction emit)
    : platform_(platform),
      emit_(std::move(emit)),
      localeIdentifier_(std::move(localeIdentifier)),
      engine_(platform.audio.makeEngine()),
      lastChange_(platform.clock.now()) {}

std::shared_ptr<SpeechRecognitionRequest> SpeechSession::takeRequest() {
  MutexLock lock(requestMutex_);
  return request_;
}

// --- Endings ---

void SpeechSession::stopMicrophone() {
  if (engine_->isRunning()) engine_->stop();
  if (tapInstalled_) {
    engine_->inputNode().removeTap(kInputBus);
    tapInstalled_ = false;
  }
}

void SpeechSession::cleanUp() {
  if (timer_) {
    timer_->invalidate();
    timer_.reset();
  }
  stopMicrophone();
  std::shared_ptr<SpeechRecognitionRequest> request;
  {
    MutexLock lock(requestMutex_);
    request = std::move(request_);  // leaves request_ empty
  }
  if (request) request->endAudio();
  if (task_) task_->cancel();
  task_.reset();
}

void SpeechSession::fail(std::string_view message) {
  if (finished_) return;
  finished_ = true;
  cleanUp();
  emit_("error", message);
  platform_.process.exit(1);
}

void SpeechSession::complete() {
  if (finished_) return;
  finished_ = true;
  cleanUp();
  const std::string text = trimmed(lastText_);
  if (!text.empty()) {
    emit_("final", text);
    platform_.process.exit(0);
  } else {
    emit_("error", "no speech was detected");
    platform_.process.exit(2);
  }
}

// --- Permissions ---

void SpeechSession::start() {
  emit_("status", "requesting local speech access");
  // Armed first of all: a stop asked for at any time from now on ends the run with its line.
  platform_.process.watchStopRequests([self = shared_from_this()] { self->onStopRequest(); });
  platform_.speech.requestAuthorization(
      [self = shared_from_this()](SpeechAuthorizationStatus status) {
        self->onSpeechAuthorization(status);
      });
}

void SpeechSession::onSpeechAuthorization(SpeechAuthorizationStatus status) {
  platform_.mainLoop.post([self = shared_from_this(), status] {
    if (status != SpeechAuthorizationStatus::authorized) {
      self->fail("speech recognition permission was not granted");
      return;
    }
    self->platform_.audio.requestMicrophoneAccess(
        [self](bool granted) { self->onMicrophoneAccess(granted); });
  });
}

void SpeechSession::onMicrophoneAccess(bool granted) {
  platform_.mainLoop.post([self = shared_from_this(), granted] {
    if (granted) {
      self->beginRecognition();
    } else {
      self->fail("microphone permission was not granted");
    }
  });
}

// --- Recognition start ---

void SpeechSession::beginRecognition() {
  const bool useCurrent =
      !localeIdentifier_ || localeIdentifier_->empty() || isAutoKeyword(*localeIdentifier_);
  const Locale locale = useCurrent ? platform_.locales.current()
                                   : platform_.locales.fromIdentifier(*localeIdentifier_);

  auto recognizer = platform_.speech.makeRecognizer(locale);
  if (!recognizer) {
    fail("speech recognition is unavailable for this language");
    return;
  }
  if (!recognizer->supportsOnDeviceRecognition()) {
    fail("this mac cannot guarantee on-device speech recognition for this language");
    return;
  }
  recognizer_ = recognizer;

  auto request = platform_.speech.makeRequest();
  request->setRequiresOnDeviceRecognition(true);
  request->setShouldReportPartialResults(true);
  {
    MutexLock lock(requestMutex_);
    request_ = request;
  }

  AudioInputNode& input = engine_->inputNode();
  const AudioFormat format = input.outputFormatForBus(kInputBus);
  if (!(format.sampleRate > 0) || format.channelCount == 0) {
    fail("no microphone input is available");
    return;
  }
  input.installTap(kInputBus, kTapBufferSize, format,
                   [weak = weak_from_this()](const AudioPCMBuffer& buffer, const AudioTime& when) {
                     if (auto self = weak.lock()) self->onAudioBuffer(buffer, when);
                   });
  tapInstalled_ = true;

  task_ = recognizer->recognitionTask(
      request, [weak = weak_from_this()](std::optional<RecognitionResult> result,
                                         std::optional<RecognitionError> error) {
        if (auto self = weak.lock()) self->onRecognitionResult(std::move(result), std::move(error));
      });

  // Weakly: the engine, which keeps the handler, belongs to the session.
  engine_->setCaptureEndedHandler([weak = weak_from_this()] {
    if (auto self = weak.lock()) self->onCaptureEnded();
  });
  engine_->prepare();
  if (const Status started = engine_->start(); !started.ok()) {
    fail("microphone could not start: " + started.message());
    return;
  }

  emit_("status", "listening locally");
  timer_ = platform_.mainLoop.scheduleRepeating(kSilenceTickInterval, [weak = weak_from_this()] {
    if (auto self = weak.lock()) self->onSilenceTick();
  });
  platform_.mainLoop.runInBackground([self = shared_from_this()] { self->watchStandardInput(); });
  platform_.mainLoop.postAfter(kListeningLimit,
                               [self = shared_from_this()] { self->onListeningLimit(); });
}

void SpeechSession::onAudioBuffer(const AudioPCMBuffer& buffer, const AudioTime&) {
  // The guard is held only to take a reference; the append runs outside it.
  if (auto request = takeRequest()) request->append(buffer);
}

// --- Recognition results ---

void SpeechSession::onRecognitionResult(std::optional<RecognitionResult> result,
                                        std::optional<RecognitionError> error) {
  platform_.mainLoop.post(
      [weak = weak_from_this(), result = std::move(result), error = std::move(error)] {
        if (auto self = weak.lock()) self->handleRecognitionReport(result, error);
      });
}

void SpeechSession::handleRecognitionReport(const std::optional<RecognitionResult>& result,
                                            const std::optional<RecognitionError>& error) {
  if (finished_) return;
  if (result) {
    const std::string& text = result->formattedString;
    if (!sameTranscription(text, lastText_)) {
      lastText_ = text;
      lastChange_ = recognizedUntil();
      heardSpeech_ = !trimmed(text).empty();
      emit_("partial", text);
    }
    if (result->isFinal) {
      complete();
      return;
    }
  }
  if (error) {
    if (stopping_) return;  // the drain ending finishes the run
    // Words heard end with them; the recognizer's own "no speech" ends as nothing heard.
    if (heardSpeech_ || error->noSpeech) {
      complete();
    } else {
      fail(error->localizedDescription);
    }
  }
}

// --- Stop triggers and draining ---

double SpeechSession::recognizedUntil() const {
  const double behind = task_ ? task_->backlogDuration() : 0;
  return platform_.clock.now() - behind;
}

void SpeechSession::onSilenceTick() {
  if (finished_ || !heardSpeech_) return;
  if (recognizedUntil() - lastChange_ > kSilenceThreshold) stopInput();
}

void SpeechSession::watchStandardInput() {
  platform_.process.readLine();
  platform_.mainLoop.post([self = shared_from_this()] { self->stopInput(); });
}

void SpeechSession::onListeningLimit() { stopInput(); }

void SpeechSession::onCaptureEnded() {
  platform_.mainLoop.post([self = shared_from_this()] { self->stopInput(); });
}

void SpeechSession::onStopRequest() {
  platform_.mainLoop.post([self = shared_from_this()] { self->stopOnRequest(); });
}

void SpeechSession::stopOnRequest() {
  if (finished_ || stopping_) return;
  if (!tapInstalled_) {
    complete();  // not listening yet: nothing was heard, nothing to drain
    return;
  }
  stopInput();
}

void SpeechSession::stopInput() {
  if (finished_ || stopping_) return;
  stopping_ = true;
  stopMicrophone();
  if (auto request = takeRequest()) request->endAudio();
  emit_("status", "finishing transcript");
  platform_.mainLoop.postAfter(kDrainTime,
                               [self = shared_from_this()] { self->finishAfterDrain(); });
}

void SpeechSession::finishAfterDrain() { complete(); }

}  // namespace mic
