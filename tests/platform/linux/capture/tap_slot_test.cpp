#include "platform/linux/capture/tap_slot.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "fakes/fake_platform.h"

namespace mic {
namespace {

using testing::FakeBuffer;

TEST(TapSlot, DeliversOnlyWhileInstalled) {
  TapSlot slot;
  const FakeBuffer buffer({16000, 1}, std::vector<float>(1024, 0.5f));
  int first = 0, second = 0;
  slot.deliver(buffer, {});  // no tap yet: dropped
  slot.install([&](const AudioPCMBuffer&, const AudioTime&) { ++first; });
  EXPECT_TRUE(slot.installed());
  slot.deliver(buffer, {});
  slot.install([&](const AudioPCMBuffer&, const AudioTime&) { ++second; });  // replaces the old
  slot.deliver(buffer, {});
  slot.remove();
  EXPECT_FALSE(slot.installed());
  slot.deliver(buffer, {});
  EXPECT_EQ(first, 1);
  EXPECT_EQ(second, 1);
}

TEST(TapSlot, RemoveWaitsForTheCallInProgress) {
  TapSlot slot;
  std::mutex mutex;
  std::condition_variable changed;
  bool entered = false;
  bool release = false;
  bool removed = false;
  std::atomic<bool> blockFinished = false;
  slot.install([&](const AudioPCMBuffer&, const AudioTime&) {
    std::unique_lock lock(mutex);
    entered = true;
    changed.notify_all();
    changed.wait(lock, [&] { return release; });
    blockFinished = true;
  });

  const FakeBuffer buffer({16000, 1}, {1.0f});
  std::thread audio([&] { slot.deliver(buffer, {}); });
  {
    std::unique_lock lock(mutex);
    changed.wait(lock, [&] { return entered; });
  }
  std::thread remover([&] {
    slot.remove();
    EXPECT_TRUE(blockFinished) << "removeTap returned while the tap was still running";
    std::lock_guard lock(mutex);
    removed = true;
    changed.notify_all();
  });
  {
    // The remover must stay blocked while the tap runs; give a broken one the chance to return.
    std::unique_lock lock(mutex);
    EXPECT_FALSE(changed.wait_for(lock, std::chrono::milliseconds(100), [&] { return removed; }));
    release = true;
    changed.notify_all();
  }
  audio.join();
  remover.join();
  EXPECT_TRUE(removed);
  EXPECT_FALSE(slot.installed());
}

}  // namespace
}  // namespace mic
