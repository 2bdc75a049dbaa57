// The direct ALSA capture used when no sound server runs. ALSA's "null" device stands in for a
// sound card: it is always ready and never paced, which also shows that stop() is heard between
// reads.

#include "platform/linux/capture/alsa_capture.h"

#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <thread>

#include "platform/linux/capture/capture_test_support.h"
#include "platform/linux/capture/tap_slot.h"

namespace mic {
namespace {

using namespace std::chrono_literals;
using testing::StderrCapture;
using testing::TapRecorder;

bool machineHasSoundCard() {
  std::ifstream cards("/proc/asound/cards");
  std::string first;
  return cards && std::getline(cards, first) && first.find("no soundcards") == std::string::npos;
}

TEST(AlsaCapture, DeliversFullBuffersOffTheMainThreadUntilStopped) {
  auto source = makeAlsaCaptureSource("null");
  const Result<AudioFormat> native = source->format();
  ASSERT_TRUE(native.ok()) << native.status().message();
  ASSERT_GT(native->sampleRate, 0);
  ASSERT_GT(native->channelCount, 0u);

  TapRecorder recorder;
  TapSlot tap;
  tap.install(recorder.block());
  FrameCollector collector({16000, 2}, 1024,
                           [&](const AudioPCMBuffer& b, const AudioTime& t) { tap.deliver(b, t); });
  std::atomic<int> ended{0};
  const Status started = source->start({16000, 2}, collector, [&] { ++ended; });
  ASSERT_TRUE(started.ok()) << started.message();
  EXPECT_TRUE(source->isRunning());
  ASSERT_TRUE(recorder.waitForMore(3));

  source->stop();
  EXPECT_FALSE(source->isRunning());
  EXPECT_FALSE(recorder.callArrivesWithin(100ms));
  EXPECT_FALSE(recorder.onMainThread());
  EXPECT_EQ(recorder.oddBuffers(), 0u);
  EXPECT_EQ(recorder.timeGaps(), 0u);
  EXPECT_EQ(recorder.format().channelCount, 2u);
  EXPECT_EQ(ended, 0) << "stopping is not capture ending on its own";
}

TEST(AlsaCapture, FailsWithALibraryMessageAndNothingOnStderr) {
  StderrCapture stderrText;
  auto source = makeAlsaCaptureSource("no-such-alsa-device");
  const Result<AudioFormat> format = source->format();
  ASSERT_TRUE(format.ok()) << "no microphone is a zero format, not a failure";
  EXPECT_EQ(format->channelCount, 0u);
  TapRecorder recorder;
  FrameCollector collector({16000, 1}, 1024, recorder.block());
  const Status started = source->start({16000, 1}, collector, {});
  ASSERT_FALSE(started.ok());
  EXPECT_FALSE(started.message().empty());
  EXPECT_FALSE(source->isRunning());
  source->stop();  // harmless when nothing runs
  EXPECT_EQ(stderrText.restore(), "");
}

TEST(AlsaCapture, FindsNoMicrophoneWithoutASoundCard) {
  if (machineHasSoundCard()) GTEST_SKIP() << "this machine has a sound card";
  StderrCapture stderrText;
  auto source = makeAlsaCaptureSource();
  const Result<AudioFormat> format = source->format();
  ASSERT_TRUE(format.ok()) << "no microphone is a zero format, not a failure";
  EXPECT_EQ(format->sampleRate, 0);
  TapRecorder recorder;
  FrameCollector collector({16000, 1}, 1024, recorder.block());
  EXPECT_FALSE(source->start({16000, 1}, collector, {}).ok());
  EXPECT_EQ(stderrText.restore(), "");
}

}  // namespace
}  // namespace mic
