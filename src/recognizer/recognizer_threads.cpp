#include "recognizer/recognizer_threads.h"

#include "platform/linux/detached_thread.h"

namespace mic {

RecognizerThreadCount& recognizerThreadCount() {
  // Never destroyed: a detached thread may still finish while the process exits.
  static RecognizerThreadCount* count = new RecognizerThreadCount;
  return *count;
}

Status startRecognizerThread(std::function<void()> work) {
  auto& count = recognizerThreadCount();
  {
    MutexLock lock(count.mutex);
    ++count.running;
  }
  const auto done = [&count] {
    MutexLock lock(count.mutex);
    --count.running;
    count.idle.notify_all();
  };
  Status started = startDetachedThread([work = std::move(work), done]() mutable {
    try {
      work();
    } catch (...) {
      work = nullptr;
      done();
      throw;
    }
    work = nullptr;  // release what it held before saying it is done
    done();
  });
  if (!started.ok()) done();
  return started;
}

}  // namespace mic
