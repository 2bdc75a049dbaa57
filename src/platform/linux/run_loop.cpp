#include "platform/linux/run_loop.h"

#include <utility>

#include "platform/linux/detached_thread.h"

namespace mic {

struct RunLoop::Timer {
  Timer(Clock::duration interval, Clock::time_point next, uint64_t sequence, Work handler)
      : interval(interval), next(next), sequence(sequence), handler(std::move(handler)) {}
  bool isValid() {
    MutexLock lock(mutex);
    return valid;
  }
  void invalidate() {
    MutexLock lock(mutex);
    valid = false;
  }

  // The loop's own, touched with its mutex held; the handler runs on its thread.
  Clock::duration interval;
  Clock::time_point next;
  uint64_t sequence;
  Work handler;
  // A flag of its own, so that invalidating never waits for the loop.
  Mutex mutex;
  bool valid GUARDED_BY(mutex) = true;
};

class RunLoop::TimerHandle : public RepeatingTimer {
 public:
  explicit TimerHandle(std::shared_ptr<Timer> timer) : timer_(std::move(timer)) {}
  void invalidate() override { timer_->invalidate(); }

 private:
  std::shared_ptr<Timer> timer_;
};

namespace {

constexpr double kBackgroundRetry = 0.1;  // seconds

std::chrono::steady_clock::duration toDuration(double seconds) {
  return std::chrono::duration_cast<std::chrono::steady_clock::duration>(
      std::chrono::duration<double>(seconds));
}

}  // namespace

// Notifying under the lock: a poster on another thread never touches the loop after the loop
// could have seen its work.
void RunLoop::post(Work work) {
  MutexLock lock(mutex_);
  posted_.push_back(std::move(work));
  wake_.notify_one();
}

void RunLoop::postAfter(double seconds, Work work) {
  MutexLock lock(mutex_);
  delayed_.emplace(std::make_pair(Clock::now() + toDuration(seconds), sequence_++),
                   std::move(work));
  wake_.notify_one();
}

std::shared_ptr<RepeatingTimer> RunLoop::scheduleRepeating(double intervalSeconds, Work handler) {
  std::shared_ptr<Timer> timer;
  {
    MutexLock lock(mutex_);
    const auto interval = toDuration(intervalSeconds);
    timer =
        std::make_shared<Timer>(interval, Clock::now() + interval, sequence_++, std::move(handler));
    timers_.push_back(timer);
  }
  wake_.notify_one();
  return std::make_shared<TimerHandle>(timer);
}

void RunLoop::runInBackground(Work work) {
  // Out of threads for now (EAGAIN says so): try again shortly rather than lose the work. The
  // caller's own deadlines bound how long that may go on.
  Status started = startDetachedThread(work);
  const bool retry = !started.ok();
  {
    MutexLock lock(mutex_);
    backgroundStart_ = std::move(started);
  }
  if (retry) {
    postAfter(kBackgroundRetry, [this, work = std::move(work)] { runInBackground(work); });
  }
}

Status RunLoop::backgroundStart() const {
  MutexLock lock(mutex_);
  return backgroundStart_;
}

void RunLoop::quit() {
  MutexLock lock(mutex_);
  quit_ = true;
  wake_.notify_one();
}

void RunLoop::run() {
  MutexLock lock(mutex_);
  while (!quit_) {
    Work work;
    if (!posted_.empty()) {
      work = std::move(posted_.front());
      posted_.pop_front();
    } else {
      std::erase_if(timers_, [](const auto& t) { return !t->isValid(); });
      // The earliest of the next delayed item and the next tick; ties go to the older.
      std::pair<Clock::time_point, uint64_t> due{Clock::time_point::max(), 0};
      std::shared_ptr<Timer> dueTimer;
      if (!delayed_.empty()) due = delayed_.begin()->first;
      for (const auto& t : timers_) {
        if (std::make_pair(t->next, t->sequence) < due) {
          due = {t->next, t->sequence};
          dueTimer = t;
        }
      }
      if (due.first > Clock::now()) {
        if (due.first == Clock::time_point::max()) {
          wake_.wait(lock);
        } else {
          wake_.wait_until(lock, due.first);
        }
        continue;
      }
      if (dueTimer) {
        // Keep to the grid, but skip ticks missed while the loop was busy instead of bursting.
        const auto now = Clock::now();
        do dueTimer->next += dueTimer->interval;
        while (dueTimer->next <= now);
        work = [dueTimer] {
          if (dueTimer->isValid()) dueTimer->handler();
        };
      } else {
        work = std::move(delayed_.begin()->second);
        delayed_.erase(delayed_.begin());
      }
    }
    lock.unlock();
    work();
    work = nullptr;  // release captures before taking the lock again
    lock.lock();
  }
  quit_ = false;
}

}  // namespace mic
