#include "platform/apple/capture_recovery.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "fakes/fake_main_loop.h"
#include "fakes/fake_platform.h"

namespace mic {
namespace {

using testing::FakeBuffer;
using testing::FakeEngine;
using testing::FakeMainLoop;

const AudioFormat kBuiltIn{48000, 1};
const AudioFormat kHeadset{16000, 1};
const AudioFormat kInterface{44100, 2};
const AudioFormat kNone{0, 0};

// The backend's side, on fake engines: a restart captures through a fresh engine with the same
// tap, and the one it replaces is stopped with its tap out, not destroyed.
class FakeCapture : public RecoverableCapture {
 public:
  FakeCapture(FakeMainLoop& loop, AudioTapBlock tap) : loop_(loop), tap_(std::move(tap)) {
    engines.push_back(std::make_unique<FakeEngine>());
    current().node.installTap(0, 1024, kBuiltIn, tap_);
    EXPECT_TRUE(current().start().ok());
  }

  FakeEngine& current() { return *engines.back(); }

  bool wanted() override { return !sessionStopped && !endedAt; }
  bool running() override { return current().running; }
  AudioFormat tapFormat() override { return current().node.tapFormat; }
  AudioFormat inputFormat() override { return hardware; }
  Status restart(AudioFormat format) override {
    restartsAt.push_back(loop_.now());
    auto fresh = std::make_unique<FakeEngine>();
    fresh->startError = startError;
    fresh->node.format = format;
    fresh->node.installTap(0, 1024, format, tap_);
    fresh->prepare();
    const Status started = fresh->start();
    if (!started.ok()) return started;
    current().stop();
    current().node.removeTap(0);
    engines.push_back(std::move(fresh));
    return {};
  }
  void end() override {
    EXPECT_FALSE(endedAt) << "capture ended twice";
    endedAt = loop_.now();
  }

  AudioFormat hardware = kBuiltIn;
  std::optional<std::string> startError;
  bool sessionStopped = false;
  std::vector<std::unique_ptr<FakeEngine>> engines;  // the current one last
  std::vector<double> restartsAt;                    // every attempt
  std::optional<double> endedAt;

 private:
  FakeMainLoop& loop_;
  AudioTapBlock tap_;
};

enum class Event {
  change,         // the hardware changes to `format`; the engine stops itself
  changeRunning,  // a change the engine runs through
  sound,          // the current engine delivers a buffer with sound
  silence,        // ... of digital silence
  startsFail,     // from now on, engines do not start
  startsWork,
  sessionStops,
};

struct Step {
  double at;
  Event event;
  AudioFormat format{};
};

struct RecoveryCase {
  const char* name;
  std::vector<Step> steps;
  std::vector<double> restartsAt;  // attempts, after the settling time
  std::optional<double> endedAt;
};

const std::vector<RecoveryCase> kCases = {
    {"a headset switching profile: one restart in its format, once the burst has settled",
     {{1.0, Event::change, kHeadset},
      {1.2, Event::change, kHeadset},
      {1.4, Event::change, kHeadset},
      {3.0, Event::sound}},
     {1.9},
     {}},
    {"a burst the engine runs through, in the same format, changes nothing",
     {{1.0, Event::changeRunning, kBuiltIn}, {1.1, Event::changeRunning, kBuiltIn}},
     {},
     {}},
    {"a running engine whose input format changed under it is restarted",
     {{1.0, Event::changeRunning, kInterface}},
     {1.5},
     {}},
    {"no input left ends capture", {{1.0, Event::change, kNone}}, {}, 1.5},
    {"an input without channels ends capture", {{1.0, Event::change, {48000, 0}}}, {}, 1.5},
    {"an input gone only during the burst is no end",
     {{1.0, Event::change, kNone}, {1.3, Event::change, kHeadset}},
     {1.8},
     {}},
    {"a restart that fails once is tried again",
     {{1.0, Event::startsFail}, {1.0, Event::change, kHeadset}, {1.7, Event::startsWork}},
     {1.5, 2.0},
     {}},
    {"a restart that keeps failing ends capture",
     {{1.0, Event::startsFail}, {1.0, Event::change, kHeadset}},
     {1.5, 2.0, 2.5},
     3.0},
    {"after the session stopped, nothing restarts",
     {{1.0, Event::change, kHeadset}, {1.2, Event::sessionStops}},
     {},
     {}},
    {"a loop of changes, even with sound between, ends within the window",
     {{1.0, Event::change, kHeadset},
      {2.0, Event::sound},
      {2.1, Event::change, kBuiltIn},
      {3.0, Event::sound},
      {3.1, Event::change, kHeadset},
      {4.0, Event::sound},
      {4.1, Event::change, kBuiltIn}},
     {1.5, 2.6, 3.6},
     4.6},
    {"changes further apart than the window may go on",
     {{1.0, Event::change, kHeadset},
      {2.0, Event::sound},
      {5.0, Event::change, kBuiltIn},
      {6.0, Event::sound},
      {9.0, Event::change, kHeadset},
      {10.0, Event::sound},
      {12.0, Event::change, kBuiltIn}},
     {1.5, 5.5, 9.5, 12.5},
     {}},
    {"restarts that bring only digital silence are bounded, however far apart",
     {{1.0, Event::change, kHeadset},
      {2.0, Event::silence},
      {20.0, Event::change, kBuiltIn},
      {21.0, Event::silence},
      {40.0, Event::change, kHeadset},
      {41.0, Event::silence},
      {60.0, Event::change, kBuiltIn}},
     {1.5, 20.5, 40.5},
     60.5},
    {"restarts that bring sound, far apart, may go on",
     {{1.0, Event::change, kHeadset},
      {2.0, Event::sound},
      {20.0, Event::change, kBuiltIn},
      {21.0, Event::sound},
      {40.0, Event::change, kHeadset},
      {41.0, Event::sound},
      {60.0, Event::change, kBuiltIn}},
     {1.5, 20.5, 40.5, 60.5},
     {}},
};

bool sameTimes(const std::vector<double>& a, const std::vector<double>& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::fabs(a[i] - b[i]) > 1e-6) return false;
  }
  return true;
}

std::string describe(const std::vector<double>& times) {
  std::string out;
  for (const double t : times) out += std::to_string(t) + " ";
  return out;
}

TEST(CaptureRecoveryTest, RestartsThroughAFreshEngineOnceChangesSettleOrEndsCapture) {
  for (const RecoveryCase& c : kCases) {
    SCOPED_TRACE(c.name);
    FakeMainLoop loop;
    int delivered = 0;
    std::unique_ptr<CaptureRecovery> recovery;
    FakeCapture capture(loop, [&](const AudioPCMBuffer& buffer, const AudioTime&) {
      ++delivered;
      recovery->noteBuffer(buffer.interleavedSamples(), buffer.format().channelCount);
    });
    recovery = std::make_unique<CaptureRecovery>(capture, loop, loop);

    for (const Step& step : c.steps) {
      loop.advance(step.at - loop.now());
      FakeEngine& engine = capture.current();
      switch (step.event) {
        case Event::change:
        case Event::changeRunning:
          capture.hardware = step.format;
          engine.changeConfiguration(step.format, step.event == Event::changeRunning);
          recovery->onConfigurationChange();
          break;
        case Event::sound:
        case Event::silence: {
          // Sound on the last channel only: every channel counts.
          const AudioFormat format = engine.node.tapFormat;
          std::vector<float> samples(160 * format.channelCount, 0.f);
          if (step.event == Event::sound) samples[samples.size() - 1] = 0.01f;
          const int before = delivered;
          ASSERT_TRUE(engine.node.deliver(FakeBuffer(format, samples)));
          ASSERT_EQ(delivered, before + 1) << "the same tap hears the fresh engine";
          break;
        }
        case Event::startsFail:
          capture.startError = "device busy";
          break;
        case Event::startsWork:
          capture.startError.reset();
          break;
        case Event::sessionStops:
          capture.sessionStopped = true;
          engine.stop();
          break;
      }
    }
    loop.advance(70.0 - loop.now());

    EXPECT_TRUE(sameTimes(capture.restartsAt, c.restartsAt))
        << "restarts at " << describe(capture.restartsAt) << "expected " << describe(c.restartsAt);
    EXPECT_EQ(capture.endedAt.has_value(), c.endedAt.has_value());
    if (capture.endedAt && c.endedAt) {
      EXPECT_NEAR(*capture.endedAt, *c.endedAt, 1e-6);
    }
    // The capture that goes on runs in the hardware's format, with the tap as it was.
    if (!capture.endedAt && !capture.sessionStopped && !c.restartsAt.empty()) {
      FakeEngine& current = capture.current();
      EXPECT_TRUE(current.running);
      EXPECT_EQ(current.node.tapFormat.sampleRate, capture.hardware.sampleRate);
      EXPECT_EQ(current.node.tapFormat.channelCount, capture.hardware.channelCount);
      EXPECT_EQ(current.node.tapBufferSize, 1024u);
      for (size_t i = 0; i + 1 < capture.engines.size(); ++i) {
        EXPECT_FALSE(capture.engines[i]->running);
        EXPECT_FALSE(capture.engines[i]->node.hasTap());
      }
    }
  }
}

}  // namespace
}  // namespace mic
