#include "recognizer/recognition_service.h"

#include <exception>
#include <new>
#include <string>
#include <utility>

#include "recognizer/audio_queue.h"
#include "recognizer/model_load.h"
#include "recognizer/recognition_worker.h"
#include "recognizer/recognizer_threads.h"

namespace mic {
namespace {

class LocalRecognitionRequest : public SpeechRecognitionRequest {
 public:
  // Recognition never leaves the machine, whatever is asked.
  void setRequiresOnDeviceRecognition(bool) override {}
  void setShouldReportPartialResults(bool report) override { reportPartials = report; }
  void append(const AudioPCMBuffer& buffer) override {
    audio->push(buffer.format(), buffer.interleavedSamples());
  }
  void endAudio() override { audio->close(); }

  std::shared_ptr<AudioQueue> audio = std::make_shared<AudioQueue>();
  bool reportPartials = false;
};

class LocalRecognitionTask : public RecognitionTask {
 public:
  explicit LocalRecognitionTask(std::shared_ptr<RecognitionTaskState> state)
      : state_(std::move(state)) {}
  ~LocalRecognitionTask() override { cancel(); }

  // Never waits for the worker: it notices at its next chunk, or at once when it is waiting.
  void cancel() override {
    state_->cancelled = true;
    if (state_->audio) state_->audio->interrupt();
    if (state_->model) state_->model->wake();  // none for a damaged model
  }
  // What the worker has yet to decode: the queue holds it until the decoder is done with it.
  double backlogDuration() const override {
    return state_->audio ? state_->audio->backlogDuration() : 0;
  }

 private:
  std::shared_ptr<RecognitionTaskState> state_;
};

// A recognizer for an installed model. A damaged model is never handed to its engine (which
// might exit or crash on it): its tasks report the damage as their recognition failure instead.
class LocalRecognizer : public SpeechRecognizer {
 public:
  LocalRecognizer(std::shared_ptr<const SpeechModel> model, Status modelCheck, std::string reusable)
      : model_(std::move(model)),
        modelCheck_(model_ ? modelCheck.withContext("speech model is damaged")
                           : modelCheck.withContext("speech model could not be found")),
        preloaded_(modelCheck_.ok() ? ModelLoad::start(model_, std::move(reusable)) : nullptr) {}

  bool supportsOnDeviceRecognition() const override { return true; }

  std::shared_ptr<RecognitionTask> recognitionTask(
      std::shared_ptr<SpeechRecognitionRequest> request,
      RecognitionResultHandler handler) override {
    auto state = std::make_shared<RecognitionTaskState>();
    state->handler = std::move(handler);
    if (!modelCheck_.ok()) {
      const std::string error = modelCheck_.message();
      // Reported from another thread, as a decoder's failure would be; at once without one.
      if (!startRecognizerThread([state, error] { state->fail(error); }).ok()) state->fail(error);
      return std::make_shared<LocalRecognitionTask>(state);
    }
    // The first task gets the model loading since makeRecognizer; any later one loads its own.
    state->model = preloaded_ ? std::exchange(preloaded_, nullptr) : ModelLoad::start(model_);
    auto ours = std::dynamic_pointer_cast<LocalRecognitionRequest>(request);
    if (ours) {
      state->audio = ours->audio;
      state->reportPartials = ours->reportPartials;
    } else {
      state->audio = std::make_shared<AudioQueue>();
    }
    const Status started = startRecognizerThread([state, foreign = !ours] {
      if (foreign) return state->fail("speech recognition request of another kind");
      try {
        runRecognitionWorker(state);
      } catch (const std::bad_alloc&) {
        state->fail("speech recognition ran out of memory");
      } catch (const std::exception& error) {
        state->fail(std::string("speech recognition failed: ") + error.what());
      }
    });
    // Reported like any recognition failure, through the handler.
    if (!started.ok())
      state->fail(started.withContext("speech recognition could not start").message());
    return std::make_shared<LocalRecognitionTask>(state);
  }

 private:
  std::shared_ptr<const SpeechModel> model_;
  Status modelCheck_;
  std::shared_ptr<ModelLoad> preloaded_;
};

class LocalRecognitionService : public SpeechRecognitionService {
 public:
  explicit LocalRecognitionService(SpeechModelLocator locate) : locate_(std::move(locate)) {}

  // Nothing to ask: recognition is local. Answered from another thread, as a system would.
  void requestAuthorization(std::function<void(SpeechAuthorizationStatus)> handler) override {
    const Status started =
        startRecognizerThread([handler] { handler(SpeechAuthorizationStatus::authorized); });
    // Without a thread to spare the answer comes at once, which a handler must accept as well.
    if (!started.ok()) handler(SpeechAuthorizationStatus::authorized);
  }

  std::shared_ptr<SpeechRecognizer> makeRecognizer(const Locale& locale) override {
    // Only a language with no model at all has no recognizer; a damaged one fails its tasks, and
    // so does a search that failed, with its reason.
    auto model = locate_(locale.identifier);
    if (!model) return std::make_shared<LocalRecognizer>(nullptr, model.status(), std::string());
    if (!*model) return nullptr;
    std::string reusable;
    Status check = (*model)->check(&reusable);
    return std::make_shared<LocalRecognizer>(std::move(model).value(), std::move(check),
                                             std::move(reusable));
  }

  std::shared_ptr<SpeechRecognitionRequest> makeRequest() override {
    return std::make_shared<LocalRecognitionRequest>();
  }

 private:
  SpeechModelLocator locate_;
};

}  // namespace

std::unique_ptr<SpeechRecognitionService> makeRecognitionService(SpeechModelLocator locate) {
  return std::make_unique<LocalRecognitionService>(std::move(locate));
}

}  // namespace mic
