// The main loop on the system's main queue and run loop. Real timing: these run on a Mac.
#include "platform/apple/apple_main_loop.h"

#import <Foundation/Foundation.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <ctime>
#include <future>
#include <stdexcept>
#include <thread>
#include <vector>

#include "run_loop_pump.h"

namespace mic::testing {
namespace {

class AppleMainLoopTest : public ::testing::Test {
 protected:
  std::unique_ptr<MainLoop> loop = makeAppleMainLoop();
};

TEST_F(AppleMainLoopTest, PostedWorkRunsOnTheMainThreadInOrderFromAnyThread) {
  std::vector<int> order;
  bool allOnMain = true;
  auto record = [&](int item) {
    return [&, item] {
      allOnMain = allOnMain && NSThread.isMainThread;
      order.push_back(item);
    };
  };
  loop->post(record(1));
  loop->post(record(2));
  std::thread other([&] { loop->post(record(3)); });
  other.join();
  ASSERT_TRUE(pumpMainRunLoopUntil([&] { return order.size() == 3; }, 5));
  EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
  EXPECT_TRUE(allOnMain);
}

TEST_F(AppleMainLoopTest, DelayedWorkRunsNoEarlierThanItsDeadline) {
  using Clock = std::chrono::steady_clock;
  const auto posted = Clock::now();
  Clock::time_point ranAt{};
  bool nowRan = false;
  bool pastRan = false;
  loop->postAfter(0.3, [&] { ranAt = Clock::now(); });
  loop->postAfter(0, [&] { nowRan = true; });
  loop->postAfter(-1, [&] { pastRan = true; });  // a deadline already gone runs at once
  ASSERT_TRUE(pumpMainRunLoopUntil([&] { return ranAt != Clock::time_point{}; }, 5));
  EXPECT_GE(std::chrono::duration<double>(ranAt - posted).count(), 0.3);
  EXPECT_TRUE(nowRan);
  EXPECT_TRUE(pastRan);
}

TEST_F(AppleMainLoopTest, RepeatingTimerFiresUntilInvalidatedOrDropped) {
  int ticks = 0;
  auto timer = loop->scheduleRepeating(0.02, [&] { ++ticks; });
  ASSERT_TRUE(pumpMainRunLoopUntil([&] { return ticks >= 3; }, 5));
  timer->invalidate();
  const int atInvalidate = ticks;
  pumpMainRunLoopFor(0.15);
  EXPECT_EQ(ticks, atInvalidate);

  int droppedTicks = 0;
  auto dropped = loop->scheduleRepeating(0.02, [&] { ++droppedTicks; });
  ASSERT_TRUE(pumpMainRunLoopUntil([&] { return droppedTicks >= 1; }, 5));
  dropped.reset();
  const int atDrop = droppedTicks;
  pumpMainRunLoopFor(0.15);
  EXPECT_EQ(droppedTicks, atDrop);
}

// The standard-input reader blocks in the background; the main loop must go on meanwhile.
TEST_F(AppleMainLoopTest, BackgroundWorkRunsOffTheMainThreadAndMayBlock) {
  std::promise<void> release;
  std::atomic<bool> onMain{true};
  std::atomic<bool> finished{false};
  loop->runInBackground([&, wait = release.get_future().share()] {
    onMain = NSThread.isMainThread;
    wait.wait();
    finished = true;
  });
  bool mainRan = false;
  loop->post([&] {
    mainRan = true;
    release.set_value();
  });
  ASSERT_TRUE(pumpMainRunLoopUntil([&] { return finished.load(); }, 5));
  EXPECT_TRUE(mainRan);
  EXPECT_FALSE(onMain);
}

// Seconds, on the clock steady_clock reads: never the time of day, which can step back.
TEST(AppleMonotonicClockTest, CountsSecondsOnTheSteadyClock) {
  const double steady =
      std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
  const double now = makeAppleMonotonicClock()->now();
  EXPECT_NEAR(now, steady, 1.0);
  EXPECT_GE(makeAppleMonotonicClock()->now(), now);
}

// libdispatch would end the process on an exception that leaves a block; the loop hands it to
// run()'s caller instead, as the Linux loop does, and runs nothing after it.
TEST_F(AppleMainLoopTest, AnExceptionInPostedWorkLeavesRunForItsCaller) {
  bool ranAfter = false;
  loop->post([] { throw std::runtime_error("out of something"); });
  loop->post([&] { ranAfter = true; });
  try {
    loop->run();
    ADD_FAILURE() << "run returned";
  } catch (const std::runtime_error& error) {
    EXPECT_STREQ(error.what(), "out of something");
  }
  pumpMainRunLoopFor(0.2);
  EXPECT_FALSE(ranAfter);
}

}  // namespace
}  // namespace mic::testing
