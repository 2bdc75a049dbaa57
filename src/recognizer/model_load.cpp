#include "recognizer/model_load.h"

#include <chrono>
#include <exception>
#include <utility>

#include "platform/linux/large_pages.h"
#include "recognizer/recognizer_threads.h"

namespace mic {
namespace {

// Far beyond the half second a load takes, yet short of the listening limit, so that a load stuck
// on a hung file system still ends the run with its own line.
constexpr auto kLoadPatience = std::chrono::seconds(50);

}  // namespace

std::shared_ptr<ModelLoad> ModelLoad::start(std::shared_ptr<const SpeechModel> model,
                                            std::string reusable) {
  auto load = std::make_shared<ModelLoad>();
  const Status started = startRecognizerThread(
      [load, model, reusable = std::move(reusable)] { load->run(*model, reusable); });
  // No thread to spare: the worker loads the model itself when it needs it.
  if (!started.ok()) load->pending_ = std::move(model);
  return load;
}

ModelLoad::Loaded ModelLoad::take(const std::atomic<bool>& stop) {
  if (pending_) run(*std::exchange(pending_, nullptr));
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

void ModelLoad::wake() {
  MutexLock lock(mutex_);
  changed_.notify_all();
}

// A failed load throws nothing, but memory can still run out on the way.
void ModelLoad::run(const SpeechModel& model, std::string_view reusable) {
  Loaded result = Status::failure("speech model could not be loaded: out of memory");
  try {
    auto decoder = model.load(reusable);
    if (decoder) {
      result = LoadedModel{std::move(decoder).value(), makeDisplayText(model.language())};
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

}  // namespace mic
