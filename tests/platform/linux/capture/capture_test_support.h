#pragma once

// Helpers for the capture tests that run against a real sound server or ALSA device.

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/audio_input.h"

namespace mic::testing {

using namespace std::chrono_literals;

// Records what reaches a tap, from whichever thread calls it.
class TapRecorder {
 public:
  AudioTapBlock block() {
    return [this](const AudioPCMBuffer& buffer, const AudioTime& when) {
      float peak = 0;
      for (float sample : buffer.interleavedSamples()) peak = std::max(peak, std::fabs(sample));
      std::lock_guard lock(mutex_);
      ++calls_;
      if (forbidden_) ++lateCalls_;
      if (std::this_thread::get_id() == mainThread_) onMainThread_ = true;
      if (buffer.frameLength() != 1024 ||
          buffer.interleavedSamples().size() != 1024u * buffer.format().channelCount) {
        ++oddBuffers_;
      }
      if (when.sampleTime != expectedTime_) ++timeGaps_;
      expectedTime_ = when.sampleTime + buffer.frameLength();
      format_ = buffer.format();
      peak_ = std::max(peak_, peak);
      changed_.notify_all();
    };
  }

  // Waits, with a generous deadline, until `count` more buffers arrived than when it was called.
  bool waitForMore(size_t count, std::chrono::milliseconds deadline = 10s) {
    std::unique_lock lock(mutex_);
    const size_t target = calls_ + count;
    return changed_.wait_for(lock, deadline, [&] { return calls_ >= target; });
  }

  bool waitForPeakAbove(float level, std::chrono::milliseconds deadline = 15s) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, deadline, [&] { return peak_ > level; });
  }

  // From now on every call is a fault; returns whether one came within `window`.
  bool callArrivesWithin(std::chrono::milliseconds window) {
    std::unique_lock lock(mutex_);
    forbidden_ = true;
    return changed_.wait_for(lock, window, [&] { return lateCalls_ > 0; });
  }

  size_t calls() const { return locked(calls_); }
  bool onMainThread() const { return locked(onMainThread_); }
  size_t oddBuffers() const { return locked(oddBuffers_); }
  size_t timeGaps() const { return locked(timeGaps_); }
  AudioFormat format() const { return locked(format_); }

 private:
  template <typename T>
  T locked(const T& value) const {
    std::lock_guard lock(mutex_);
    return value;
  }

  const std::thread::id mainThread_ = std::this_thread::get_id();
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  size_t calls_ = 0;
  size_t lateCalls_ = 0;
  bool forbidden_ = false;
  bool onMainThread_ = false;
  size_t oddBuffers_ = 0;
  size_t timeGaps_ = 0;
  uint64_t expectedTime_ = 0;
  AudioFormat format_;
  float peak_ = 0;
};

// The answer of requestMicrophoneAccess and the thread it came on.
struct AccessAnswer {
  std::mutex mutex;
  std::condition_variable changed;
  std::optional<bool> granted;
  std::thread::id thread;

  std::function<void(bool)> handler() {
    return [this](bool answer) {
      std::lock_guard lock(mutex);
      granted = answer;
      thread = std::this_thread::get_id();
      changed.notify_all();
    };
  }

  bool wait() {
    std::unique_lock lock(mutex);
    return changed.wait_for(lock, 10s, [&] { return granted.has_value(); });
  }
};

// Sets an environment variable for one scope.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const std::string& value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    setenv(name, value.c_str(), 1);
  }
  ~ScopedEnv() {
    if (old_) {
      setenv(name_, old_->c_str(), 1);
    } else {
      unsetenv(name_);
    }
  }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  const char* name_;
  std::optional<std::string> old_;
};

// Collects whatever is written to file descriptor 2 while it lives.
class StderrCapture {
 public:
  StderrCapture() {
    std::fflush(stderr);
    char path[] = "/tmp/capture-stderr-XXXXXX";
    file_ = mkstemp(path);
    unlink(path);
    saved_ = dup(2);
    dup2(file_, 2);
  }
  ~StderrCapture() { restore(); }

  // Restores stderr and returns what was written to it.
  std::string restore() {
    if (saved_ >= 0) {
      std::fflush(stderr);
      dup2(saved_, 2);
      close(saved_);
      saved_ = -1;
      lseek(file_, 0, SEEK_SET);
      char chunk[512];
      ssize_t n;
      while ((n = read(file_, chunk, sizeof chunk)) > 0)
        text_.append(chunk, static_cast<size_t>(n));
      close(file_);
    }
    return text_;
  }

 private:
  int file_ = -1;
  int saved_ = -1;
  std::string text_;
};

inline bool commandExists(const std::string& name) {
  return std::system(("command -v " + name + " >/dev/null 2>&1").c_str()) == 0;
}

}  // namespace mic::testing
