#pragma once

#include <functional>
#include <memory>

namespace mic {

using Work = std::function<void()>;

class RepeatingTimer {
 public:
  virtual ~RepeatingTimer() = default;
  // The handler does not run again after this returns. Main thread.
  virtual void invalidate() = 0;
};

// The main thread's loop. It runs one item at a time, never two at once: posted work in the
// order posted, delayed work once its deadline has passed, and repeating timers.
class MainLoop {
 public:
  virtual ~MainLoop() = default;
  // Any thread.
  virtual void post(Work work) = 0;
  // Runs `work` no earlier than `seconds` from now on the monotonic clock. Any thread.
  virtual void postAfter(double seconds, Work work) = 0;
  // Calls `handler` every `intervalSeconds` on the main thread until invalidated. Main thread.
  virtual std::shared_ptr<RepeatingTimer> scheduleRepeating(double intervalSeconds,
                                                            Work handler) = 0;
  // Runs `work` once on a background thread of user-initiated priority; it may block there.
  virtual void runInBackground(Work work) = 0;
  // Runs the loop on the calling (main) thread. Does not return in normal operation.
  virtual void run() = 0;
};

// Seconds on the monotonic clock (the one delayed work runs on), from an arbitrary start. The
// pause after speech is measured on it, so that a step of the time of day (NTP after a resume, a
// user setting the clock) can neither lengthen the pause to the listening limit nor cut a speaker
// off.
class MonotonicClock {
 public:
  virtual ~MonotonicClock() = default;
  virtual double now() = 0;
};

}  // namespace mic
