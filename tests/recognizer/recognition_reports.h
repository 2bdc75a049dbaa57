#pragma once

// Every report of a recognition task, as the session would receive them on the recognizer's
// thread, for the tests of the recognition service on any engine.

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/speech_recognition.h"

namespace mic::testing {

// Generous bounds that only stop a hung test; no speed is asserted.
constexpr auto kPatience = std::chrono::seconds(120);
constexpr auto kPatienceMs = std::chrono::duration_cast<std::chrono::milliseconds>(kPatience);

class Reports {
 public:
  RecognitionResultHandler handler() {
    return [this](std::optional<RecognitionResult> result, std::optional<RecognitionError> error) {
      std::lock_guard lock(mutex_);
      if (std::this_thread::get_id() == testThread_) ++onCallerThread_;
      if (result && result->isFinal) final_ = result->formattedString;
      if (result && !result->isFinal) partials_.push_back(result->formattedString);
      if (error) error_ = error->localizedDescription;
      ++count_;
      changed_.notify_all();
    };
  }

  // Waits for the final result or an error.
  bool waitForEnd() {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, kPatience, [&] { return final_ || error_; });
  }

  int count() {
    std::lock_guard lock(mutex_);
    return count_;
  }
  std::optional<std::string> final() {
    std::lock_guard lock(mutex_);
    return final_;
  }
  std::optional<std::string> error() {
    std::lock_guard lock(mutex_);
    return error_;
  }
  std::vector<std::string> partials() {
    std::lock_guard lock(mutex_);
    return partials_;
  }
  int onCallerThread() {
    std::lock_guard lock(mutex_);
    return onCallerThread_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::thread::id testThread_ = std::this_thread::get_id();
  int count_ = 0;
  int onCallerThread_ = 0;
  std::vector<std::string> partials_;
  std::optional<std::string> final_;
  std::optional<std::string> error_;
};

}  // namespace mic::testing
