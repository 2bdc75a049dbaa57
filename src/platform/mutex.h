#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <utility>

#include "platform/thread_annotations.h"

namespace mic {

// std::mutex as a capability the thread-safety analysis knows: libstdc++'s own types carry no
// annotations, so state guarded by a plain std::mutex would go unchecked.
class CAPABILITY("mutex") Mutex {
 public:
  void lock() ACQUIRE() { mutex_.lock(); }
  void unlock() RELEASE() { mutex_.unlock(); }

 private:
  friend class MutexLock;
  std::mutex mutex_;
};

// Holds a Mutex for its scope. It may be released and taken again in between, and a CondVar
// releases it while it waits.
class SCOPED_CAPABILITY MutexLock {
 public:
  explicit MutexLock(Mutex& mutex) ACQUIRE(mutex) : lock_(mutex.mutex_) {}
  ~MutexLock() RELEASE() {}
  MutexLock(const MutexLock&) = delete;
  MutexLock& operator=(const MutexLock&) = delete;

  void unlock() RELEASE() { lock_.unlock(); }
  void lock() ACQUIRE() { lock_.lock(); }

 private:
  friend class CondVar;
  std::unique_lock<std::mutex> lock_;
};

// A condition variable waited on with a MutexLock held; std::condition_variable's names, so that
// code moves to it unchanged. A predicate that reads guarded state is a lambda marked
// REQUIRES(the mutex): it runs with the mutex held.
class CondVar {
 public:
  void notify_one() { condition_.notify_one(); }
  void notify_all() { condition_.notify_all(); }

  // Until notified (or a spurious wake-up).
  void wait(MutexLock& lock) { condition_.wait(lock.lock_); }
  // Until notified or `deadline`; false once the deadline has passed.
  template <typename Clock, typename Duration>
  bool wait_until(MutexLock& lock, const std::chrono::time_point<Clock, Duration>& deadline) {
    return condition_.wait_until(lock.lock_, deadline) == std::cv_status::no_timeout;
  }
  // Until `ready()` holds.
  template <typename Predicate>
  void wait(MutexLock& lock, Predicate ready) {
    condition_.wait(lock.lock_, std::move(ready));
  }
  // Until `ready()` holds or `timeout` has passed; returns `ready()`.
  template <typename Rep, typename Period, typename Predicate>
  bool wait_for(MutexLock& lock, const std::chrono::duration<Rep, Period>& timeout,
                Predicate ready) {
    return condition_.wait_for(lock.lock_, timeout, std::move(ready));
  }

 private:
  std::condition_variable condition_;
};

}  // namespace mic
