#include "fakes/fake_main_loop.h"

#include <cmath>
#include <limits>
#include <utility>

namespace mic::testing {

struct FakeMainLoop::Timer {
  int64_t intervalMicros;
  int64_t nextMicros;
  uint64_t sequence;
  Work handler;
  bool valid = true;
};

struct FakeMainLoop::TimerHandle : RepeatingTimer {
  std::shared_ptr<Timer> timer;
  explicit TimerHandle(std::shared_ptr<Timer> t) : timer(std::move(t)) {}
  void invalidate() override { timer->valid = false; }
};

int64_t FakeMainLoop::toMicros(double seconds) { return std::llround(seconds * 1e6); }

void FakeMainLoop::post(Work work) {
  std::lock_guard lock(mutex_);
  posted_.push_back(std::move(work));
}

void FakeMainLoop::postAfter(double seconds, Work work) {
  std::lock_guard lock(mutex_);
  delayed_.emplace(std::make_pair(nowMicros_ + toMicros(seconds), sequence_++), std::move(work));
}

std::shared_ptr<RepeatingTimer> FakeMainLoop::scheduleRepeating(double intervalSeconds,
                                                                Work handler) {
  std::lock_guard lock(mutex_);
  const int64_t interval = toMicros(intervalSeconds);
  auto timer = std::make_shared<Timer>(
      Timer{interval, nowMicros_ + interval, sequence_++, std::move(handler)});
  timers_.push_back(timer);
  return std::make_shared<TimerHandle>(timer);
}

void FakeMainLoop::runInBackground(Work work) {
  std::lock_guard lock(mutex_);
  background_.push_back(std::move(work));
}

void FakeMainLoop::run() { runPending(); }

double FakeMainLoop::now() {
  std::lock_guard lock(mutex_);
  return static_cast<double>(nowMicros_) / 1e6;
}

void FakeMainLoop::runPending() {
  for (;;) {
    Work work;
    {
      std::lock_guard lock(mutex_);
      if (posted_.empty()) return;
      work = std::move(posted_.front());
      posted_.pop_front();
    }
    work();
  }
}

void FakeMainLoop::advance(double seconds) {
  int64_t target;
  {
    std::lock_guard lock(mutex_);
    target = nowMicros_ + toMicros(seconds);
  }
  for (;;) {
    runPending();
    Work work;
    {
      std::lock_guard lock(mutex_);
      // The earliest of the next delayed item and the next timer tick, ties in creation order.
      std::pair<int64_t, uint64_t> best{std::numeric_limits<int64_t>::max(), 0};
      std::shared_ptr<Timer> dueTimer;
      if (!delayed_.empty()) best = delayed_.begin()->first;
      std::erase_if(timers_, [](const auto& t) { return !t->valid; });
      for (const auto& t : timers_) {
        const std::pair<int64_t, uint64_t> key{t->nextMicros, t->sequence};
        if (key < best) {
          best = key;
          dueTimer = t;
        }
      }
      if (best.first > target) break;
      nowMicros_ = best.first;
      if (dueTimer) {
        dueTimer->nextMicros += dueTimer->intervalMicros;
        work = [dueTimer] {
          if (dueTimer->valid) dueTimer->handler();
        };
      } else {
        work = std::move(delayed_.begin()->second);
        delayed_.erase(delayed_.begin());
      }
    }
    work();
  }
  {
    std::lock_guard lock(mutex_);
    nowMicros_ = target;
  }
  runPending();
}

void FakeMainLoop::runBackgroundWork() {
  std::vector<Work> work;
  {
    std::lock_guard lock(mutex_);
    work.swap(background_);
  }
  for (auto& w : work) w();
}

size_t FakeMainLoop::backgroundWorkCount() {
  std::lock_guard lock(mutex_);
  return background_.size();
}

size_t FakeMainLoop::delayedWorkCount() {
  std::lock_guard lock(mutex_);
  return delayed_.size();
}

size_t FakeMainLoop::activeTimerCount() {
  std::lock_guard lock(mutex_);
  std::erase_if(timers_, [](const auto& t) { return !t->valid; });
  return timers_.size();
}

}  // namespace mic::testing
