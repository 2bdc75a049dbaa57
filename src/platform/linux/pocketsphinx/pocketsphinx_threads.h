#pragma once

#include <chrono>
#include <functional>

#include "platform/linux/status.h"

namespace mic {

// The recognizer's background threads (model loads, recognition workers, authorization answers)
// run detached, owning what they use, so that no caller ever waits for a decoder call to return.
// They are counted so that a test can let them finish before it ends. A thread that cannot be
// started is a failure, and `work` is then not run.
Status startRecognizerThread(std::function<void()> work);
// True once no recognizer thread runs, false if some still do after `timeout`.
bool waitForRecognizerThreads(std::chrono::milliseconds timeout);

}  // namespace mic
