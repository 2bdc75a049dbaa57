#pragma once

#include <chrono>
#include <deque>
#include <map>
#include <memory>
#include <vector>

#include "platform/main_loop.h"
#include "platform/mutex.h"
#include "platform/status.h"

namespace mic {

// The main loop of the Linux program: a queue any thread may post to, delayed work on the monotonic
// clock and repeating timers, all run one at a time on the thread that calls run().
class RunLoop : public MainLoop {
 public:
  void post(Work work) override;
  void postAfter(double seconds, Work work) override;
  std::shared_ptr<RepeatingTimer> scheduleRepeating(double intervalSeconds, Work handler) override;
  // A detached thread: it may stay blocked (in a read) until the process exits. When no thread
  // can be started the loop tries again every tenth of a second, so the work starts late
  // instead of never.
  void runInBackground(Work work) override;
  // Why the latest background thread could not start, while its work waits for a retry;
  // success once one has started.
  Status backgroundStart() const;
  void run() override;
  // Makes run() return once the item now running is done. The program never calls it.
  void quit();

 private:
  using Clock = std::chrono::steady_clock;
  struct Timer;
  class TimerHandle;

  mutable Mutex mutex_;
  CondVar wake_;
  std::deque<Work> posted_ GUARDED_BY(mutex_);
  std::multimap<std::pair<Clock::time_point, uint64_t>, Work> delayed_ GUARDED_BY(mutex_);
  std::vector<std::shared_ptr<Timer>> timers_ GUARDED_BY(mutex_);
  uint64_t sequence_ GUARDED_BY(mutex_) = 0;
  bool quit_ GUARDED_BY(mutex_) = false;
  Status backgroundStart_ GUARDED_BY(mutex_);
};

}  // namespace mic
