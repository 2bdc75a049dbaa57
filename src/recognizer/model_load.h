#pragma once

#include <atomic>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "display_text/display_text.h"
#include "platform/mutex.h"
#include "platform/status.h"
#include "recognizer/decoder.h"
#include "recognizer/speech_model.h"

namespace mic {

// A model being loaded in the background: the recognizer starts it as soon as it is made, so that
// the half second a load takes overlaps the start of capture instead of delaying the first words.
// The language's display text (the English word list) is read on the same thread.
struct LoadedModel {
  std::unique_ptr<Decoder> decoder;
  std::unique_ptr<DisplayText> displayText;  // for the model's language
};

class ModelLoad {
 public:
  using Loaded = Result<LoadedModel>;

  // `reusable`: what the model's check read that the load can use (see SpeechModel::check).
  static std::shared_ptr<ModelLoad> start(std::shared_ptr<const SpeechModel> model,
                                          std::string reusable = {});

  // Blocks until the load ends, `stop` is set (then fails: the caller was cancelled) or the load
  // takes longer than anything sound could. Hands the decoder out once: a later caller gets a
  // failure.
  Loaded take(const std::atomic<bool>& stop);

  // Wakes a take() that should look at its stop flag again.
  void wake();

 private:
  void run(const SpeechModel& model, std::string_view reusable = {});

  // Set only when no thread could load the model; then read by the one worker that takes it.
  std::shared_ptr<const SpeechModel> pending_;
  Mutex mutex_;
  CondVar changed_;
  bool done_ GUARDED_BY(mutex_) = false;
  Loaded result_ GUARDED_BY(mutex_) = Status::failure("speech model not loaded yet");
};

}  // namespace mic
