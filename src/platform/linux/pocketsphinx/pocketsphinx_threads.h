#pragma once

#include <chrono>
#include <functional>

namespace mic {

// The recognizer's background threads (model loads, recognition workers, authorization answers)
// run detached, owning what they use, so that no caller ever waits for a decoder call to return.
// They are counted so that a test can let them finish before it ends.
void startRecognizerThread(std::function<void()> work);
// True once no recognizer thread runs, false if some still do after `timeout`.
bool waitForRecognizerThreads(std::chrono::milliseconds timeout);

}  // namespace mic
