#include "platform/linux/run_loop.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

namespace mic {
namespace {

using std::chrono::steady_clock;

TEST(RunLoop, PostedWorkRunsInOrderOnTheLoopThread) {
  RunLoop loop;
  std::vector<int> order;
  std::thread::id ranOn;
  for (int i = 0; i < 100; ++i) loop.post([&, i] { order.push_back(i); });
  loop.post([&] {
    ranOn = std::this_thread::get_id();
    loop.quit();
  });
  loop.run();
  ASSERT_EQ(order.size(), 100u);
  for (int i = 0; i < 100; ++i) EXPECT_EQ(order[i], i);
  EXPECT_EQ(ranOn, std::this_thread::get_id());
}

TEST(RunLoop, WorkPostedFromManyThreadsAllRunsOneAtATime) {
  RunLoop loop;
  int count = 0;  // unguarded on purpose: TSan reports it if two items ever overlap
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 250; ++i)
        loop.post([&] {
          if (++count == 1000) loop.quit();
        });
    });
  }
  loop.run();
  for (auto& t : threads) t.join();
  EXPECT_EQ(count, 1000);
}

TEST(RunLoop, DelayedWorkRunsNoEarlierThanItsDeadlineAndInDeadlineOrder) {
  RunLoop loop;
  std::vector<int> order;
  const auto start = steady_clock::now();
  steady_clock::time_point ranAt;
  loop.postAfter(0.06, [&] {
    order.push_back(2);
    ranAt = steady_clock::now();
    loop.quit();
  });
  loop.postAfter(0.02, [&] { order.push_back(1); });
  loop.post([&] { order.push_back(0); });
  loop.run();
  EXPECT_EQ(order, (std::vector<int>{0, 1, 2}));
  EXPECT_GE(ranAt - start, std::chrono::milliseconds(60));
}

TEST(RunLoop, RepeatingTimerTicksUntilInvalidated) {
  RunLoop loop;
  int ticks = 0;
  std::shared_ptr<RepeatingTimer> timer;
  timer = loop.scheduleRepeating(0.01, [&] {
    if (++ticks == 3) {
      timer->invalidate();
      loop.postAfter(0.05, [&] { loop.quit(); });  // time for a stray tick to show
    }
  });
  loop.run();
  EXPECT_EQ(ticks, 3);
}

TEST(RunLoop, PostFromAnotherThreadWakesAnIdleLoop) {
  RunLoop loop;
  std::atomic<bool> ran{false};
  std::thread poster([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    loop.post([&] {
      ran = true;
      loop.quit();
    });
  });
  loop.run();
  poster.join();
  EXPECT_TRUE(ran);
}

TEST(RunLoop, BackgroundWorkRunsOffTheLoopThread) {
  RunLoop loop;
  std::thread::id backgroundId;
  loop.runInBackground([&] {
    backgroundId = std::this_thread::get_id();
    loop.post([&] { loop.quit(); });
  });
  loop.run();
  EXPECT_NE(backgroundId, std::this_thread::get_id());
  EXPECT_TRUE(loop.backgroundStart().ok()) << loop.backgroundStart().message();
}

}  // namespace
}  // namespace mic
