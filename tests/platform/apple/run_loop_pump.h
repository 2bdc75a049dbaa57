#pragma once

// Tests own the main thread, so instead of the loop's run (which never returns) they turn the
// main run loop by hand until what they wait for has happened.

#import <Foundation/Foundation.h>

#include <chrono>
#include <functional>

namespace mic::testing {

// Runs the main run loop until `done` holds or `limitSeconds` pass; returns `done()`.
inline bool pumpMainRunLoopUntil(const std::function<bool()>& done, double limitSeconds) {
  const auto deadline = std::chrono::steady_clock::now() +
                        std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                            std::chrono::duration<double>(limitSeconds));
  while (!done() && std::chrono::steady_clock::now() < deadline) {
    @autoreleasepool {
      [NSRunLoop.mainRunLoop runMode:NSDefaultRunLoopMode
                          beforeDate:[NSDate dateWithTimeIntervalSinceNow:0.01]];
    }
  }
  return done();
}

// Turns the main run loop for `seconds`, whatever happens.
inline void pumpMainRunLoopFor(double seconds) {
  pumpMainRunLoopUntil([] { return false; }, seconds);
}

}  // namespace mic::testing
