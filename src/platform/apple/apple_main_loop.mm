#include "platform/apple/apple_main_loop.h"

#import <Foundation/Foundation.h>
#include <dispatch/dispatch.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <exception>

namespace mic {
namespace {

// Far enough for any delay the program asks for, short enough for dispatch's signed nanoseconds.
constexpr double kLongestDelaySeconds = 1e9;

class AppleRepeatingTimer final : public RepeatingTimer {
 public:
  explicit AppleRepeatingTimer(NSTimer* timer) : timer_(timer) {}

  // A timer dropped without invalidate would otherwise fire for the rest of the process.
  ~AppleRepeatingTimer() override { [timer_ invalidate]; }

  void invalidate() override {
    [timer_ invalidate];
    timer_ = nil;
  }

 private:
  NSTimer* _Nullable timer_;
};

// Each item is a block on the main queue or a timer on the main run loop; both run on the main
// thread, one at a time.
//
// libdispatch terminates the process when an exception leaves a block it runs, without a line
// for the caller. So each item runs contained: an exception that leaves it stops the run loop and
// run() throws it on, to the entry's catch, which ends the run with an "error" line as on Linux.
class AppleMainLoop final : public MainLoop {
 public:
  void post(Work work) override {
    dispatch_async(dispatch_get_main_queue(), ^{
      runContained(work);
    });
  }

  // dispatch_time from DISPATCH_TIME_NOW counts on the monotonic clock.
  void postAfter(double seconds, Work work) override {
    const double delay = seconds > 0 ? std::min(seconds, kLongestDelaySeconds) : 0;
    const auto nanoseconds = static_cast<int64_t>(delay * static_cast<double>(NSEC_PER_SEC));
    dispatch_after(dispatch_time(DISPATCH_TIME_NOW, nanoseconds), dispatch_get_main_queue(), ^{
      runContained(work);
    });
  }

  std::shared_ptr<RepeatingTimer> scheduleRepeating(double intervalSeconds, Work handler) override {
    @autoreleasepool {
      // The run loop keeps the timer and the timer its block, which holds only the handler and
      // this loop, which outlives it.
      NSTimer* timer = [NSTimer timerWithTimeInterval:intervalSeconds
                                              repeats:YES
                                                block:^(NSTimer* _Nonnull) {
                                                  runContained(handler);
                                                }];
      [NSRunLoop.mainRunLoop addTimer:timer forMode:NSRunLoopCommonModes];
      return std::make_shared<AppleRepeatingTimer>(timer);
    }
  }

  void runInBackground(Work work) override {
    // An exception on the background thread ends the run on the main one.
    dispatch_async(dispatch_get_global_queue(QOS_CLASS_USER_INITIATED, 0), ^{
      try {
        work();
      } catch (...) {
        const std::exception_ptr escaped = std::current_exception();
        post([escaped] { std::rethrow_exception(escaped); });
      }
    });
  }

  // The run loop, not dispatch_main: timers on the main run loop only fire while it runs, and it
  // drains the main queue as well.
  [[noreturn]] void run() override {
    NSRunLoop* loop = NSRunLoop.mainRunLoop;
    // A run loop that finds nothing to wait on returns at once, and this one would then spin; a
    // port that never receives guarantees it always has something, before any timer exists.
    [loop addPort:[NSPort port] forMode:NSDefaultRunLoopMode];
    for (;;) {
      @autoreleasepool {
        [loop runMode:NSDefaultRunLoopMode beforeDate:NSDate.distantFuture];
      }
      if (escaped_) std::rethrow_exception(escaped_);
    }
  }

 private:
  // Main thread only, like escaped_.
  void runContained(const Work& work) {
    if (escaped_) return;  // the run is ending: nothing more runs
    try {
      work();
    } catch (...) {
      escaped_ = std::current_exception();
      CFRunLoopStop(CFRunLoopGetMain());  // returns from runMode even inside a timer
    }
  }

  std::exception_ptr escaped_;
};

class AppleMonotonicClock final : public MonotonicClock {
 public:
  double now() override {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
  }
};

}  // namespace

std::unique_ptr<MainLoop> makeAppleMainLoop() { return std::make_unique<AppleMainLoop>(); }

std::unique_ptr<MonotonicClock> makeAppleMonotonicClock() {
  return std::make_unique<AppleMonotonicClock>();
}

}  // namespace mic
