// The Linux engine over a recording fake capture source: what it asks of the source and what it
// makes of the answers, without a sound server.

#include "platform/linux/capture/linux_audio_input.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace mic {
namespace {

struct SourceLog {
  int made = 0;
  int formatAsked = 0;
  std::vector<AudioFormat> started;
  int stopped = 0;
  bool running = false;
  FrameCollector* collector = nullptr;
  std::function<void()> onEnded;
};

// Records every call into a log the test keeps: the engine owns the source itself.
class RecordingCaptureSource final : public CaptureSource {
 public:
  RecordingCaptureSource(SourceLog& log, Result<AudioFormat> format, Status startResult)
      : log_(log), format_(std::move(format)), startResult_(std::move(startResult)) {}

  Result<AudioFormat> format() override {
    ++log_.formatAsked;
    return format_;
  }
  Status start(AudioFormat format, FrameCollector& collector,
               std::function<void()> onEnded) override {
    log_.started.push_back(format);
    if (!startResult_.ok()) return startResult_;
    log_.running = true;
    log_.collector = &collector;
    log_.onEnded = std::move(onEnded);
    return {};
  }
  void stop() override {
    ++log_.stopped;
    log_.running = false;
    log_.collector = nullptr;
  }
  bool isRunning() const override { return log_.running; }

 private:
  SourceLog& log_;
  Result<AudioFormat> format_;
  Status startResult_;
};

std::unique_ptr<AudioEngine> engineOver(SourceLog& log, Result<AudioFormat> format,
                                        Status startResult = {}) {
  return makeLinuxAudioEngine([&log, format, startResult] {
    ++log.made;
    return std::make_unique<RecordingCaptureSource>(log, format, startResult);
  });
}

bool same(AudioFormat a, AudioFormat b) {
  return a.sampleRate == b.sampleRate && a.channelCount == b.channelCount;
}

TEST(LinuxAudioEngine, ReportsTheSourceFormatOrNoneAndStartsInTheTapFormat) {
  const AudioFormat native{48000, 2};
  const AudioFormat asked{16000, 1};
  struct Case {
    const char* name;
    Result<AudioFormat> format;
    std::optional<AudioFormat> tapFormat;
    AudioFormat reported;  // bus 0
    AudioFormat startedIn;
  } cases[] = {
      {"no tap format: the microphone's own", native, std::nullopt, native, native},
      {"the tap's format wins", native, asked, native, asked},
      {"no microphone", AudioFormat{}, std::nullopt, {}, {}},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.name);
    SourceLog log;
    auto engine = engineOver(log, c.format);
    EXPECT_EQ(log.made, 0) << "the source is made on first need, not with the engine";
    EXPECT_TRUE(same(engine->inputNode().outputFormatForBus(0), c.reported));
    EXPECT_TRUE(same(engine->inputNode().outputFormatForBus(1), {}));
    engine->inputNode().installTap(0, 4, c.tapFormat.value_or(AudioFormat{}),
                                   [](const AudioPCMBuffer&, const AudioTime&) {});
    EXPECT_TRUE(engine->start().ok());
    ASSERT_EQ(log.started.size(), 1u);
    EXPECT_TRUE(same(log.started[0], c.startedIn));
    EXPECT_EQ(log.made, 1);
  }
}

// A question that failed is not a missing microphone: the session hears a format it takes, and
// the start reports the failure's own reason instead of recording.
TEST(LinuxAudioEngine, AFailedFormatQueryIsReportedByTheStartNotAsNoMicrophone) {
  SourceLog log;
  auto engine = engineOver(log, Status::failure("Not enough memory"));
  const AudioFormat reported = engine->inputNode().outputFormatForBus(0);
  EXPECT_TRUE(reported.sampleRate > 0 && reported.channelCount > 0);
  engine->inputNode().installTap(0, 1024, reported, [](const AudioPCMBuffer&, const AudioTime&) {});
  const Status started = engine->start();
  ASSERT_FALSE(started.ok());
  EXPECT_EQ(started.message(), "Not enough memory");
  EXPECT_TRUE(log.started.empty());
}

TEST(LinuxAudioEngine, StartFailureCarriesTheSourceReasonUnchanged) {
  SourceLog log;
  auto engine = engineOver(log, AudioFormat{16000, 1}, Status::failure("Device or resource busy"));
  const Status started = engine->start();
  ASSERT_FALSE(started.ok());
  EXPECT_EQ(started.message(), "Device or resource busy");
  EXPECT_FALSE(engine->isRunning());
}

TEST(LinuxAudioEngine, DeliversTapBuffersAndReportsTheEndUntilStopped) {
  SourceLog log;
  auto engine = engineOver(log, AudioFormat{16000, 1});
  std::vector<uint32_t> frames;
  engine->inputNode().installTap(0, 4, {16000, 1},
                                 [&](const AudioPCMBuffer& buffer, const AudioTime&) {
                                   frames.push_back(buffer.frameLength());
                                 });
  int ended = 0;
  engine->setCaptureEndedHandler([&] { ++ended; });
  ASSERT_TRUE(engine->start().ok());
  EXPECT_TRUE(engine->isRunning());
  // Running already: a second start leaves the capture alone.
  EXPECT_TRUE(engine->start().ok());
  EXPECT_EQ(log.started.size(), 1u);

  const float samples[6] = {0.1f, 0.2f, 0.3f, 0.4f, 0.5f, 0.6f};
  log.collector->append(std::as_bytes(std::span(samples)));
  EXPECT_EQ(frames, std::vector<uint32_t>{4});

  ASSERT_TRUE(log.onEnded);
  log.onEnded();  // the source's capture thread: the microphone went away
  EXPECT_EQ(ended, 1);

  const int stopsBefore = log.stopped;
  engine->stop();
  EXPECT_EQ(log.stopped, stopsBefore + 1);
  EXPECT_FALSE(engine->isRunning());
  engine.reset();  // the engine stops its source on the way out too
  EXPECT_EQ(log.stopped, stopsBefore + 2);
}

}  // namespace
}  // namespace mic
