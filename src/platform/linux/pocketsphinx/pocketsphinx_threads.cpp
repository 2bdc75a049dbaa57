#include "platform/linux/pocketsphinx/pocketsphinx_threads.h"

#include <condition_variable>
#include <mutex>
#include <thread>

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

void startRecognizerThread(std::function<void()> work) {
  auto& count = threadCount();
  {
    std::lock_guard lock(count.mutex);
    ++count.running;
  }
  std::thread([work = std::move(work)]() mutable {
    work();
    work = nullptr;  // release what it held before saying it is done
    auto& count = threadCount();
    std::lock_guard lock(count.mutex);
    --count.running;
    count.idle.notify_all();
  }).detach();
}

bool waitForRecognizerThreads(std::chrono::milliseconds timeout) {
  auto& count = threadCount();
  std::unique_lock lock(count.mutex);
  return count.idle.wait_for(lock, timeout, [&] { return count.running == 0; });
}

}  // namespace mic
