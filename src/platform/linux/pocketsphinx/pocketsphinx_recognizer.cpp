#include "platform/linux/pocketsphinx/pocketsphinx_recognizer.h"

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <utility>
#include <variant>

#include "platform/linux/pocketsphinx/audio_queue.h"
#include "platform/linux/pocketsphinx/model_locator.h"
#include "platform/linux/pocketsphinx/pocketsphinx_decoder.h"
#include "platform/linux/pocketsphinx/pocketsphinx_threads.h"
#include "platform/linux/pocketsphinx/pocketsphinx_utterance.h"
#include "platform/linux/pocketsphinx/resampler.h"

namespace mic {
namespace {

// A model being loaded in the background: makeRecognizer starts it so that the half second of
// ps_init overlaps the start of capture instead of delaying the first words.
class ModelLoad {
 public:
  static std::shared_ptr<ModelLoad> start(const ModelPaths& model) {
    auto load = std::make_shared<ModelLoad>();
    startRecognizerThread([load, model] {
      auto result = PocketSphinxDecoder::load(model);
      std::lock_guard lock(load->mutex_);
      load->result_ = std::move(result);
      load->done_ = true;
      load->changed_.notify_all();
    });
    return load;
  }

  // Blocks until the load ends or `stop` is set (then returns nothing). Hands the decoder out
  // once: a later caller gets an error.
  std::optional<Result<std::unique_ptr<PocketSphinxDecoder>>> take(const std::atomic<bool>& stop) {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return done_ || stop.load(); });
    if (!done_) return std::nullopt;
    auto result = std::move(result_);
    result_ = Status::failure("speech model already in use");
    return result;
  }

  // Wakes a take() that should look at its stop flag again.
  void wake() {
    std::lock_guard lock(mutex_);
    changed_.notify_all();
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  bool done_ = false;
  Result<std::unique_ptr<PocketSphinxDecoder>> result_ = Status::failure("speech model not loaded");
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

  std::string feed(const AudioChunk& chunk) {
    if (!resampler_ || resampler_->inputRate() != chunk.format.sampleRate ||
        resampler_->channels() != chunk.format.channelCount) {
      if (auto error = flush(); !error.empty()) return error;
      auto made = Resampler::make(chunk.format.sampleRate, chunk.format.channelCount);
      if (auto* error = std::get_if<std::string>(&made)) return *error;
      resampler_ = std::move(std::get<0>(made));
    }
    samples_.clear();
    if (!resampler_->process(chunk.samples, samples_)) return "audio resampling failed";
    return utterance_.feed(samples_).message();
  }

  std::string flush() {
    if (!resampler_) return {};
    samples_.clear();
    if (!resampler_->flush(samples_)) return "audio resampling failed";
    resampler_.reset();
    return utterance_.feed(samples_).message();
  }

 private:
  PocketSphinxUtterance& utterance_;
  std::unique_ptr<Resampler> resampler_;
  std::vector<int16_t> samples_;
};

void runRecognition(const std::shared_ptr<TaskState>& state) {
  auto loaded = state->model->take(state->cancelled);
  if (!loaded) return;  // cancelled while the model loaded
  if (!loaded->ok()) return state->fail(loaded->status().message());
  std::unique_ptr<PocketSphinxDecoder> decoder = std::move(*loaded).value();

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
        std::string error = feeder.flush();
        if (error.empty()) error = utterance.finish().message();
        if (!error.empty()) return state->fail(error);
        return state->succeed(utterance.hypothesis(), true);
      }
      case AudioQueue::Wait::chunk:
        if (auto error = feeder.feed(chunk); !error.empty()) return state->fail(error);
        if (state->cancelled) return;
        if (state->reportPartials && utterance.hypothesis() != reported) {
          reported = utterance.hypothesis();
          state->succeed(reported, false);
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
    state_->audio->interrupt();
    state_->model->wake();
  }

 private:
  std::shared_ptr<TaskState> state_;
};

class PocketSphinxRecognizer : public SpeechRecognizer {
 public:
  explicit PocketSphinxRecognizer(ModelPaths model)
      : model_(std::move(model)), preloaded_(ModelLoad::start(model_)) {}

  bool supportsOnDeviceRecognition() const override { return true; }

  std::shared_ptr<RecognitionTask> recognitionTask(
      std::shared_ptr<SpeechRecognitionRequest> request,
      RecognitionResultHandler handler) override {
    auto state = std::make_shared<TaskState>();
    state->handler = std::move(handler);
    // The first task gets the model loading since makeRecognizer; any later one loads its own.
    state->model = preloaded_ ? std::exchange(preloaded_, nullptr) : ModelLoad::start(model_);
    auto ours = std::dynamic_pointer_cast<PocketSphinxRequest>(request);
    if (ours) {
      state->audio = ours->audio;
      state->reportPartials = ours->reportPartials;
    } else {
      state->audio = std::make_shared<AudioQueue>();
    }
    startRecognizerThread([state, foreign = !ours] {
      if (foreign) return state->fail("speech recognition request of another kind");
      runRecognition(state);
    });
    return std::make_shared<PocketSphinxTask>(state);
  }

 private:
  ModelPaths model_;
  std::shared_ptr<ModelLoad> preloaded_;
};

class PocketSphinxService : public SpeechRecognitionService {
 public:
  explicit PocketSphinxService(std::string modelRoot) : modelRoot_(std::move(modelRoot)) {
    silencePocketSphinxLog();
  }

  // Nothing to ask: recognition is local. Answered from another thread, as a system would.
  void requestAuthorization(std::function<void(SpeechAuthorizationStatus)> handler) override {
    startRecognizerThread(
        [handler = std::move(handler)] { handler(SpeechAuthorizationStatus::authorized); });
  }

  std::shared_ptr<SpeechRecognizer> makeRecognizer(const Locale& locale) override {
    auto model = locateModel(modelRoot_, locale.identifier);
    if (!model) return nullptr;
    return std::make_shared<PocketSphinxRecognizer>(std::move(*model));
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
