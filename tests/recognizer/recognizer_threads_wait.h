#pragma once

// Lets a test wait for the recognizer's detached threads before it ends, so that none of them
// outlives what the test made for it.

#include <chrono>

#include "recognizer/recognizer_threads.h"

namespace mic::testing {

// True once no recognizer thread runs, false if some still do after `timeout`.
inline bool waitForRecognizerThreads(std::chrono::milliseconds timeout) {
  auto& count = recognizerThreadCount();
  MutexLock lock(count.mutex);
  return count.idle.wait_for(lock, timeout,
                             [&]() REQUIRES(count.mutex) { return count.running == 0; });
}

}  // namespace mic::testing
