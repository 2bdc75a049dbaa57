// The AVAudioEngine input on a Mac. Capture itself needs an input device and microphone access
// already granted to the process running the tests; without them those tests skip.
#include "platform/apple/apple_audio_input.h"

#import <AVFoundation/AVFoundation.h>
#include <gtest/gtest.h>

#include <atomic>

#include "fakes/fake_platform.h"
#include "platform/apple/apple_main_loop.h"
#include "run_loop_pump.h"

namespace mic::testing {
namespace {

TEST(AppleAudioInputTest, OnlyItsOwnBuffersHaveANativeBuffer) {
  const FakeBuffer foreign({48000, 1}, std::vector<float>(1024, 0.f));
  EXPECT_EQ(nativeAudioBuffer(foreign), nil);
}

// Formats the input cannot deliver must come back from start as a message, never as an
// Objective-C exception, and leave the engine stopped.
TEST(AppleAudioInputTest, TapInAnImpossibleFormatMakesStartFail) {
  const auto loop = makeAppleMainLoop();
  const auto clock = makeAppleMonotonicClock();
  auto audio = makeAppleAudioInputService(*loop, *clock);
  for (const AudioFormat format : {AudioFormat{48000, 0}, AudioFormat{12345, 7}}) {
    auto engine = audio->makeEngine();
    engine->inputNode().installTap(0, 1024, format, [](const AudioPCMBuffer&, const AudioTime&) {});
    engine->prepare();
    const Status started = engine->start();
    ASSERT_FALSE(started.ok()) << format.sampleRate << " Hz, " << format.channelCount;
    EXPECT_FALSE(started.message().empty());
    EXPECT_FALSE(engine->isRunning());
    engine->inputNode().removeTap(0);
  }
}

class AppleCaptureTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if ([AVCaptureDevice authorizationStatusForMediaType:AVMediaTypeAudio] !=
        AVAuthorizationStatusAuthorized) {
      GTEST_SKIP() << "this process has not been granted microphone access";
    }
    format = engine->inputNode().outputFormatForBus(0);
    if (!(format.sampleRate > 0) || format.channelCount == 0) {
      GTEST_SKIP() << "no audio input device";
    }
  }

  std::unique_ptr<MainLoop> loop = makeAppleMainLoop();
  std::unique_ptr<MonotonicClock> clock = makeAppleMonotonicClock();
  std::unique_ptr<AudioInputService> audio = makeAppleAudioInputService(*loop, *clock);
  std::unique_ptr<AudioEngine> engine = audio->makeEngine();
  AudioFormat format;
};

// Buffers arrive off the main thread at the input's rate in one channel, whatever the input's
// channels, carry their native buffer, and stop for good the moment removeTap returns.
TEST_F(AppleCaptureTest, BuffersFlowUntilTheTapIsRemoved) {
  std::atomic<int> calls{0};
  std::atomic<int> inside{0};
  std::atomic<bool> wrong{false};
  engine->inputNode().installTap(
      0, 1024, format, [&](const AudioPCMBuffer& buffer, const AudioTime&) {
        ++inside;
        const AudioFormat got = buffer.format();
        const auto samples = buffer.interleavedSamples();
        if (NSThread.isMainThread || nativeAudioBuffer(buffer) == nil ||
            buffer.frameLength() == 0 || got.sampleRate != format.sampleRate ||
            got.channelCount != 1 ||
            (!samples.empty() && samples.size() != buffer.frameLength() * got.channelCount)) {
          wrong = true;
        }
        ++calls;
        --inside;
      });
  engine->prepare();
  ASSERT_TRUE(engine->start().ok());
  EXPECT_TRUE(engine->isRunning());
  ASSERT_TRUE(pumpMainRunLoopUntil([&] { return calls >= 5; }, 10));

  engine->inputNode().removeTap(0);
  EXPECT_EQ(inside.load(), 0);
  const int atRemoval = calls;
  pumpMainRunLoopFor(0.3);
  EXPECT_EQ(calls.load(), atRemoval);
  engine->stop();
  EXPECT_FALSE(engine->isRunning());
  EXPECT_FALSE(wrong);
}

}  // namespace
}  // namespace mic::testing
