#include "platform/linux/pocketsphinx/pocketsphinx_recognizer.h"

#include <atomic>
#include <chrono>
#include <exception>
#include <optional>
#include <string>
#include <utility>

#include "platform/linux/large_pages.h"
#include "platform/linux/pocketsphinx/audio_queue.h"
#include "platform/linux/pocketsphinx/model_locator.h"
#include "platform/linux/pocketsphinx/pocketsphinx_decoder.h"
#include "platform/linux/pocketsphinx/pocketsphinx_threads.h"
#include "platform/linux/pocketsphinx/pocketsphinx_utterance.h"
#include "platform/linux/pocketsphinx/resampler.h"
#include "platform/linux/recognition/display_text.h"
#include "platform/mutex.h"

namespace mic {
namespace {

// Far beyond the half second a load takes, yet short of the listening limit, so that a load stuck
// on a hung file system still ends the run with its own line.
constexpr auto kLoadPatience = std::chrono::seconds(50);

// A model being loaded in the background: makeRecognizer starts it so that the half second of
// ps_init overlaps the start of capture instead of delaying the first words.
struct LoadedModel {
  std::unique_ptr<PocketSphinxDecoder> decoder;
  std::unique_ptr<DisplayText> displayText;  // for the model's language
};

class ModelLoad {
 public:
  using Loaded = Result<LoadedModel>;

  // `vocabulary`: what the model check read of the language model, handed on so that the load
  // does not read it again; empty, the load reads it itself.
  static std::shared_ptr<ModelLoad> start(const ModelPaths& model, std::string vocabulary = {}) {
    auto load = std::make_shared<ModelLoad>();
    const Status started = startRecognizerThread(
        [load, model, vocabulary = std::move(vocabulary)] { load->run(model, vocabulary); });
    // No thread to spare: the worker loads the model itself when it needs it.
    if (!started.ok()) load->pending_ = model;
    return load;
  }

  // Blocks until the load ends, `stop` is set (then fails: the caller was cancelled) or the load
  // takes longer than anything sound could. Hands the decoder out once: a later caller gets a
  // failure.
  Loaded take(const std::atomic<bool>& stop) {
    if (pending_) run(*std::exchange(pending_, std::nullopt));
    MutexLock lock(mutex_);
    if (!changed_.wait_for(lock, kLoadPatience,
                           [&]() REQUIRES(mutex_) { return done_ || stop.load(); })) {
      return Status::failure("speech model did not load within " +
                             std::to_string(kLoadPatience.count()) + " s");
    }
    if (!done_) return Status::failure("speech recognition was cancelled");
    Loaded result = std::move(result_);
    result_ = Status::failure("speech model already in use");
    return result;
  }

  // Wakes a take() that should look at its stop flag again.
  void wake() {
    MutexLock lock(mutex_);
    changed_.notify_all();
  }

 private:
  // A decoder call that fails throws nothing, but memory can still run out on the way.
  void run(const ModelPaths& model, std::string_view vocabulary = {}) {
    Loaded result = Status::failure("speech model could not be loaded: out of memory");
    try {
      auto decoder = PocketSphinxDecoder::load(model, vocabulary);
      if (decoder) {
        result = LoadedModel{std::move(decoder).value(), makeDisplayText(model.name)};
      } else {
        result = decoder.status();
      }
    } catch (const std::exception&) {
    }
    endLargePagesForModel();
    MutexLock lock(mutex_);
    result_ = std::move(result);
    done_ = true;
    changed_.notify_all();
  }

  // Set only when no thread could load the model; then read by the one worker that takes it.
  std::optional<ModelPaths> pending_;
  Mutex mutex_;
  CondVar changed_;
  bool done_ GUARDED_BY(mutex_) = false;
  Loaded result_ GUARDED_BY(mutex_) = Status::failure("speech model not loaded yet");
};

// What a task's worker and the task handle share; the worker owns the decoder.
struct TaskState {
  std::shared_ptr<AudioQueue> audio;
  std::shared_ptr<ModelLoad> model;
  RecognitionResultHandler handler;
  bool reportPartials = true;
  std::atomic<bool> cancelled{false};

  // Reports stop once the task is cancelled.
  void succeed(const std::string& text, bool isFinal) {
    if (!cancelled) handler(RecognitionResult{text, isFinal}, std::nullopt);
  }
  void fail(const std::string& description) {
    if (!cancelled) handler(std::nullopt, RecognitionError{description});
  }
};

// Resamples each captured chunk and feeds it to the utterance; a change of format (a new device)
// flushes the old resampler first so no audio is lost.
class Feeder {
 public:
  explicit Feeder(PocketSphinxUtterance& utterance) : utterance_(utterance) {}

  Status feed(const AudioChunk& chunk) {
    if (!resampler_ || resampler_->inputRate() != chunk.format.sampleRate ||
        resampler_->channels() != chunk.format.channelCount) {
      if (Status flushed = flush(); !flushed.ok()) return flushed;
      auto made = Resampler::make(chunk.format.sampleRate, chunk.format.channelCount);
      if (!made) return made.status();
      resampler_ = std::move(made).value();
    }
    samples_.clear();
    if (Status processed = resampler_->process(chunk.samples, samples_); !processed.ok()) {
      return processed;
    }
    return utterance_.feed(samples_);
  }

  Status flush() {
    if (!resampler_) return {};
    samples_.clear();
    if (Status flushed = resampler_->flush(samples_); !flushed.ok()) return flushed;
    resampler_.reset();
    return utterance_.feed(samples_);
  }

 private:
  PocketSphinxUtterance& utterance_;
  std::unique_ptr<Resampler> resampler_;
  std::vector<int16_t> samples_;
};

void runRecognition(const std::shared_ptr<TaskState>& state) {
  auto loaded = state->model->take(state->cancelled);
  if (!loaded) return state->fail(loaded.status().message());  // silent once cancelled
  std::unique_ptr<PocketSphinxDecoder> decoder = std::move(loaded->decoder);
  const DisplayText& displayText = *loaded->displayText;

  PocketSphinxUtterance utterance(*decoder, WarmUpPolicy{});
  Feeder feeder(utterance);
  if (auto status = utterance.start(); !status.ok()) return state->fail(status.message());
  std::string reported;
  AudioChunk chunk;
  for (;;) {
    switch (state->audio->pop(chunk)) {
      case AudioQueue::Wait::interrupted:
        return;
      case AudioQueue::Wait::closed: {
        Status finished = feeder.flush();
        if (finished.ok()) finished = utterance.finish();
        if (!finished.ok()) return state->fail(finished.message());
        return state->succeed(displayText.format(utterance.hypothesis()), true);
      }
      case AudioQueue::Wait::chunk:
        if (Status fed = feeder.feed(chunk); !fed.ok()) return state->fail(fed.message());
        if (state->cancelled) return;
        if (state->reportPartials && utterance.hypothesis() != reported) {
          reported = utterance.hypothesis();
          state->succeed(displayText.format(reported), false);
        }
        break;
    }
  }
}

class PocketSphinxRequest : public SpeechRecognitionRequest {
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

class PocketSphinxTask : public RecognitionTask {
 public:
  explicit PocketSphinxTask(std::shared_ptr<TaskState> state) : state_(std::move(state)) {}
  ~PocketSphinxTask() override { cancel(); }

  // Never waits for the worker: it notices at its next chunk, or at once when it is waiting.
  void cancel() override {
    state_->cancelled = true;
    if (state_->audio) state_->audio->interrupt();
    if (state_->model) state_->model->wake();  // none for a damaged model
  }

 private:
  std::shared_ptr<TaskState> state_;
};

// A recognizer for an installed model. A damaged model is never handed to the library (which
// would exit or crash on it): its tasks report the damage as their recognition failure instead.
class PocketSphinxRecognizer : public SpeechRecognizer {
 public:
  PocketSphinxRecognizer(ModelPaths model, Status modelCheck, std::string vocabulary)
      : model_(std::move(model)),
        modelCheck_(modelCheck.withContext("speech model is damaged")),
        preloaded_(modelCheck_.ok() ? ModelLoad::start(model_, std::move(vocabulary)) : nullptr) {}

  bool supportsOnDeviceRecognition() const override { return true; }

  std::shared_ptr<RecognitionTask> recognitionTask(
      std::shared_ptr<SpeechRecognitionRequest> request,
      RecognitionResultHandler handler) override {
    auto state = std::make_shared<TaskState>();
    state->handler = std::move(handler);
    if (!modelCheck_.ok()) {
      const std::string error = modelCheck_.message();
      // Reported from another thread, as a decoder's failure would be; at once without one.
      if (!startRecognizerThread([state, error] { state->fail(error); }).ok()) state->fail(error);
      return std::make_shared<PocketSphinxTask>(state);
    }
    // The first task gets the model loading since makeRecognizer; any later one loads its own.
    state->model = preloaded_ ? std::exchange(preloaded_, nullptr) : ModelLoad::start(model_);
    auto ours = std::dynamic_pointer_cast<PocketSphinxRequest>(request);
    if (ours) {
      state->audio = ours->audio;
      state->reportPartials = ours->reportPartials;
    } else {
      state->audio = std::make_shared<AudioQueue>();
    }
    const Status started = startRecognizerThread([state, foreign = !ours] {
      if (foreign) return state->fail("speech recognition request of another kind");
      try {
        runRecognition(state);
      } catch (const std::bad_alloc&) {
        state->fail("speech recognition ran out of memory");
      } catch (const std::exception& error) {
        state->fail(std::string("speech recognition failed: ") + error.what());
      }
    });
    // Reported like any recognition failure, through the handler.
    if (!started.ok())
      state->fail(started.withContext("speech recognition could not start").message());
    return std::make_shared<PocketSphinxTask>(state);
  }

 private:
  ModelPaths model_;
  Status modelCheck_;
  std::shared_ptr<ModelLoad> preloaded_;
};

class PocketSphinxService : public SpeechRecognitionService {
 public:
  explicit PocketSphinxService(std::string modelRoot) : modelRoot_(std::move(modelRoot)) {
    silencePocketSphinxLog();
  }

  // Nothing to ask: recognition is local. Answered from another thread, as a system would.
  void requestAuthorization(std::function<void(SpeechAuthorizationStatus)> handler) override {
    const Status started =
        startRecognizerThread([handler] { handler(SpeechAuthorizationStatus::authorized); });
    // Without a thread to spare the answer comes at once, which a handler must accept as well.
    if (!started.ok()) handler(SpeechAuthorizationStatus::authorized);
  }

  std::shared_ptr<SpeechRecognizer> makeRecognizer(const Locale& locale) override {
    // Only a language with no model at all has no recognizer; a damaged one fails its tasks.
    auto model = locateModel(modelRoot_, locale.identifier);
    if (!model) return nullptr;
    std::string vocabulary;
    Status check = checkModel(*model, &vocabulary);
    return std::make_shared<PocketSphinxRecognizer>(std::move(model).value(), std::move(check),
                                                    std::move(vocabulary));
  }

  std::shared_ptr<SpeechRecognitionRequest> makeRequest() override {
    return std::make_shared<PocketSphinxRequest>();
  }

 private:
  std::string modelRoot_;
};

}  // namespace

std::unique_ptr<SpeechRecognitionService> makePocketSphinxService(std::string modelRoot) {
  return std::make_unique<PocketSphinxService>(std::move(modelRoot));
}

}  // namespace mic
