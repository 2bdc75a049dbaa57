#pragma once

#include <functional>

#include "platform/mutex.h"
#include "platform/status.h"

namespace mic {

// The recognizer's background threads (model loads, recognition workers, authorization answers)
// run detached, owning what they use, so that no caller ever waits for a decoder call to return.
// A thread that cannot be started is a failure, and `work` is then not run.
Status startRecognizerThread(std::function<void()> work);

// How many recognizer threads still run. A thread counts itself out only once it has released
// what its work held, so a test that waits for zero may then tear down what they used.
struct RecognizerThreadCount {
  Mutex mutex;
  CondVar idle;  // notified each time `running` drops
  int running GUARDED_BY(mutex) = 0;
};
RecognizerThreadCount& recognizerThreadCount();

}  // namespace mic
