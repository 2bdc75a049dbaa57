#pragma once

// A recognition engine without a model: a decoder whose hypotheses follow a script of how much
// audio it has been fed, and a model whose check and load succeed or fail as told. The recognition
// service runs on it exactly as on a real engine, threads and all.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "recognizer/decoder.h"
#include "recognizer/speech_model.h"

namespace mic::testing {

struct DecoderScript {
  // The hypothesis once at least `first` samples (16 kHz mono) have been fed, in feeding order.
  std::vector<std::pair<size_t, std::string>> hypotheses;
  std::string finalText;
  Status locate;  // the search for the model
  Status check;
  Status load;
  Status start;
  Status finish;
  // A feed that takes the total fed past this fails with `feedFailure`.
  std::optional<size_t> failFeedAfter;
  std::string feedFailure = "fake feed failure";
  // The first feed that takes the total fed to this or past it then holds the worker, as a costly
  // end of a segment does, until the test releases it.
  std::optional<size_t> holdAt;
};

// What the test reads back; written by the recognizer's threads.
struct DecoderRecord {
  std::atomic<int> loads{0};
  std::atomic<size_t> fed{0};

  // The test's side of `holdAt`, and a wait for the worker's progress.
  void release() {
    std::lock_guard lock(mutex);
    released = true;
    changed.notify_all();
  }
  // False if `fed` and `holding` do not get there within `patience`.
  bool waitFor(size_t samples, bool held, std::chrono::milliseconds patience) {
    std::unique_lock lock(mutex);
    return changed.wait_for(lock, patience, [&] { return fed >= samples && holding == held; });
  }

  std::mutex mutex;
  std::condition_variable changed;
  bool holding = false;
  bool released = false;
};

class FakeDecoder final : public Decoder {
 public:
  FakeDecoder(std::shared_ptr<const DecoderScript> script, std::shared_ptr<DecoderRecord> record)
      : script_(std::move(script)), record_(std::move(record)) {}

  Status start() override { return script_->start; }
  Status feed(std::span<const int16_t> samples) override {
    fed_ += samples.size();
    record_->fed = fed_;
    if (script_->failFeedAfter && fed_ > *script_->failFeedAfter) {
      return Status::failure(script_->feedFailure);
    }
    for (const auto& [after, text] : script_->hypotheses) {
      if (fed_ >= after) hypothesis_ = text;
    }
    std::unique_lock lock(record_->mutex);
    if (script_->holdAt && fed_ >= *script_->holdAt && !held_) {
      held_ = true;
      record_->holding = true;
      record_->changed.notify_all();
      record_->changed.wait(lock, [&] { return record_->released; });
      record_->holding = false;
    }
    record_->changed.notify_all();
    return {};
  }
  Status finish() override {
    if (!script_->finish.ok()) return script_->finish;
    hypothesis_ = script_->finalText;
    return {};
  }
  const std::string& hypothesis() const override { return hypothesis_; }
  bool inSpeech() const override { return !hypothesis_.empty(); }

 private:
  std::shared_ptr<const DecoderScript> script_;
  std::shared_ptr<DecoderRecord> record_;
  size_t fed_ = 0;
  bool held_ = false;
  std::string hypothesis_;
};

class FakeSpeechModel final : public SpeechModel {
 public:
  FakeSpeechModel(std::shared_ptr<const DecoderScript> script,
                  std::shared_ptr<DecoderRecord> record)
      : script_(std::move(script)), record_(std::move(record)) {}

  Status check(std::string*) const override { return script_->check; }
  Result<std::unique_ptr<Decoder>> load(std::string_view) const override {
    ++record_->loads;
    if (!script_->load.ok()) return script_->load;
    return std::unique_ptr<Decoder>(std::make_unique<FakeDecoder>(script_, record_));
  }
  // A language with no display text of its own: reports carry the decoder's words as they are.
  std::string language() const override { return "zz"; }

 private:
  std::shared_ptr<const DecoderScript> script_;
  std::shared_ptr<DecoderRecord> record_;
};

// A locator that finds the scripted model for "en-US" and nothing else.
inline SpeechModelLocator fakeLocator(std::shared_ptr<const DecoderScript> script,
                                      std::shared_ptr<DecoderRecord> record) {
  return [=](const std::string& identifier) -> Result<std::shared_ptr<const SpeechModel>> {
    if (!script->locate.ok()) return script->locate;
    if (identifier != "en-US") return std::shared_ptr<const SpeechModel>();
    return std::shared_ptr<const SpeechModel>(std::make_shared<FakeSpeechModel>(script, record));
  };
}

}  // namespace mic::testing
