#include "platform/linux/pocketsphinx/pocketsphinx_threads.h"

#include <condition_variable>
#include <mutex>

#include "platform/linux/detached_thread.h"

namespace mic {
namespace {

struct ThreadCount {
  std::mutex mutex;
  std::condition_variable idle;
  int running = 0;
};

ThreadCount& threadCount() {
  // Never destroyed: a detached thread may still finish while the process exits.
  static ThreadCount* count = new ThreadCount;
  return *count;
}

}  // namespace

Status startRecognizerThread(std::function<void()> work) {
  auto& count = threadCount();
  {
    std::lock_guard lock(count.mutex);
    ++count.running;
  }
  const auto done = [&count] {
    std::lock_guard lock(count.mutex);
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

bool waitForRecognizerThreads(std::chrono::milliseconds timeout) {
  auto& count = threadCount();
  std::unique_lock lock(count.mutex);
  return count.idle.wait_for(lock, timeout, [&] { return count.running == 0; });
}

}  // namespace mic
