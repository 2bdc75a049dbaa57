#include "platform/capture_recovery.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "fakes/fake_platform.h"

namespace mic {
namespace {

using testing::FakeBuffer;
using testing::FakeEngine;
using Outcome = CaptureRecovery::Outcome;

struct Change {
  AudioFormat format;
  bool keepsRunning = false;
  std::optional<std::string> startError;
  bool audioAfter = true;  // a buffer arrives once capture runs again
  Outcome expected;
};

struct RecoveryCase {
  const char* name;
  bool capturing;
  std::vector<Change> changes;
};

const AudioFormat kHeadset{16000, 1};
const AudioFormat kBuiltIn{48000, 1};
const AudioFormat kNone{0, 0};

const std::vector<RecoveryCase> kCases = {
    {"a headset switching profile: capture goes on in its format",
     true,
     {{kHeadset, false, {}, true, Outcome::restarted}}},
    {"a burst while the engine keeps running changes nothing",
     true,
     {{kBuiltIn, true, {}, true, Outcome::unchanged},
      {kBuiltIn, true, {}, true, Outcome::unchanged}}},
    {"no input any more ends capture", true, {{kNone, false, {}, true, Outcome::ended}}},
    {"an input without channels ends capture",
     true,
     {{AudioFormat{48000, 0}, false, {}, true, Outcome::ended}}},
    {"a restart that fails ends capture",
     true,
     {{kHeadset, false, std::string("device busy"), true, Outcome::ended}}},
    {"after the session stopped, nothing restarts",
     false,
     {{kHeadset, false, {}, true, Outcome::unchanged}}},
    {"restarts that bring no audio are bounded",
     true,
     {{kHeadset, false, {}, false, Outcome::restarted},
      {kBuiltIn, false, {}, false, Outcome::restarted},
      {kHeadset, false, {}, false, Outcome::restarted},
      {kBuiltIn, false, {}, false, Outcome::ended}}},
    {"restarts that bring audio may go on",
     true,
     {{kHeadset, false, {}, true, Outcome::restarted},
      {kBuiltIn, false, {}, true, Outcome::restarted},
      {kHeadset, false, {}, true, Outcome::restarted},
      {kBuiltIn, false, {}, true, Outcome::restarted},
      {kHeadset, false, {}, true, Outcome::restarted}}},
};

TEST(CaptureRecoveryTest, RestartsCaptureInTheNewFormatOrEndsIt) {
  for (const RecoveryCase& c : kCases) {
    SCOPED_TRACE(c.name);
    FakeEngine engine;
    int delivered = 0;
    const CaptureRecovery::Tap tap{0, 4096,
                                   [&](const AudioPCMBuffer&, const AudioTime&) { ++delivered; }};
    engine.node.installTap(tap.bus, tap.bufferSize, kBuiltIn, tap.block);
    ASSERT_TRUE(engine.start().ok());
    CaptureRecovery recovery;
    for (size_t i = 0; i < c.changes.size(); ++i) {
      const Change& change = c.changes[i];
      SCOPED_TRACE("change " + std::to_string(i));
      engine.changeConfiguration(change.format, change.keepsRunning);
      engine.startError = change.startError;
      const int startsBefore = engine.startCount;
      const Outcome outcome = recovery.onConfigurationChange(engine, tap, c.capturing);
      EXPECT_EQ(outcome, change.expected);
      EXPECT_EQ(engine.startCount > startsBefore,
                change.expected == Outcome::restarted || change.startError.has_value());
      if (outcome != Outcome::restarted) continue;
      EXPECT_TRUE(engine.running);
      EXPECT_EQ(engine.node.tapFormat.sampleRate, change.format.sampleRate);
      EXPECT_EQ(engine.node.tapFormat.channelCount, change.format.channelCount);
      EXPECT_EQ(engine.node.tapBufferSize, tap.bufferSize);
      // The same tap: what it hears still reaches whoever installed it.
      const int before = delivered;
      ASSERT_TRUE(engine.node.deliver(FakeBuffer(change.format, std::vector<float>(160))));
      EXPECT_EQ(delivered, before + 1);
      if (change.audioAfter) recovery.noteAudio();
    }
  }
}

}  // namespace
}  // namespace mic
