#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/main_loop.h"

namespace mic::testing {

// A main loop that runs only when the test says so, on a manual monotonic clock that its delayed
// work and the session's pause share. Time is kept in whole microseconds so that intervals add up
// exactly (seven 0.2 s ticks are exactly 1.4 s). post() may be called from any thread.
class FakeMainLoop : public MainLoop, public MonotonicClock {
 public:
  void post(Work work) override;
  void postAfter(double seconds, Work work) override;
  std::shared_ptr<RepeatingTimer> scheduleRepeating(double intervalSeconds, Work handler) override;
  void runInBackground(Work work) override;
  void run() override;
  double now() override;

  // Runs posted work until the queue is empty (work posted meanwhile runs too).
  void runPending();
  // Moves the clock forward, running timers and delayed work in the order they fall due.
  void advance(double seconds);
  // Runs the work handed to background threads, on the calling thread.
  void runBackgroundWork();
  size_t backgroundWorkCount();
  size_t delayedWorkCount();
  size_t activeTimerCount();

 private:
  struct Timer;
  struct TimerHandle;
  static int64_t toMicros(double seconds);

  std::mutex mutex_;
  int64_t nowMicros_ = 0;
  uint64_t sequence_ = 0;
  std::deque<Work> posted_;
  std::multimap<std::pair<int64_t, uint64_t>, Work> delayed_;
  std::vector<std::shared_ptr<Timer>> timers_;
  std::vector<Work> background_;
};

}  // namespace mic::testing
