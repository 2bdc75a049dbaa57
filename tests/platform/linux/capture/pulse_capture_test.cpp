// The capture backend against a real sound server: the virtual microphone of
// tests/e2e/virtual_mic.sh, reached through PULSE_SERVER.

#include "platform/linux/capture/pulse_capture.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <list>
#include <thread>

#include "platform/linux/capture/alsa_capture.h"
#include "platform/linux/capture/capture_test_support.h"
#include "platform/linux/capture/linux_audio_input.h"

namespace mic {
namespace {

using namespace std::chrono_literals;
using testing::AccessAnswer;
using testing::ScopedEnv;
using testing::StderrCapture;
using testing::TapRecorder;
using Clock = std::chrono::steady_clock;

// tests/platform/linux/capture/ -> tests/e2e/
const std::filesystem::path kVirtualMic =
    std::filesystem::path(__FILE__).parent_path().parent_path().parent_path().parent_path() /
    "e2e" / "virtual_mic.sh";

double millisecondsSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// Skips unless PULSE_SERVER names a server that answers.
#define REQUIRE_VIRTUAL_MICROPHONE()                                                           \
  do {                                                                                         \
    const char* server = std::getenv("PULSE_SERVER");                                          \
    if (!server || !*server) {                                                                 \
      GTEST_SKIP() << "PULSE_SERVER is not set: start tests/e2e/virtual_mic.sh and export it"; \
    }                                                                                          \
    if (!PulseServer().waitSettled().ok()) {                                                   \
      GTEST_SKIP() << "no sound server answers at PULSE_SERVER=" << server;                    \
    }                                                                                          \
  } while (false)

class PulseCapture : public ::testing::Test {
 protected:
  void TearDown() override {
    if (engine_) {
      engine_->stop();
      engine_->inputNode().removeTap(0);
    }
    if (player_.joinable()) player_.join();
  }

  AudioEngine& engine() {
    if (!engine_) engine_ = service_->makeEngine();
    return *engine_;
  }

  void startWithTap(TapRecorder& recorder) {
    const AudioFormat format = engine().inputNode().outputFormatForBus(0);
    engine().inputNode().installTap(0, 1024, format, recorder.block());
    engine().prepare();
    const Status started = engine().start();
    ASSERT_TRUE(started.ok()) << started.message();
    ASSERT_TRUE(engine().isRunning());
  }

  // Plays a tone into the virtual microphone's sink, in real time, on a thread of its own.
  void playTone() {
    if (!testing::commandExists("sox") || !testing::commandExists("paplay")) {
      GTEST_SKIP() << "sox and paplay are needed to play into the virtual microphone";
    }
    const std::string wav = ::testing::TempDir() + "/capture-tone.wav";
    ASSERT_EQ(std::system(("sox -q -n -r 16000 -c 1 -b 16 " + wav +
                           " synth 1.5 sine 440 vol 0.5 2>/dev/null")
                              .c_str()),
              0);
    player_ = std::thread([wav] {
      [[maybe_unused]] int status =
          std::system(("paplay -d vspk " + wav + " >/dev/null 2>&1").c_str());
    });
  }

  std::unique_ptr<AudioInputService> service_ = makeLinuxAudioInputService();
  // A recorder's tap may be called until TearDown stops the engine, after the test body has
  // returned: so the fixture owns them, not the test body's stack.
  TapRecorder& newRecorder() { return recorders_.emplace_back(); }

  std::list<TapRecorder> recorders_;
  std::unique_ptr<AudioEngine> engine_;
  std::thread player_;
};

TEST_F(PulseCapture, ReportsTheDefaultSourceFormatAndGrantsAccessFromAnotherThread) {
  REQUIRE_VIRTUAL_MICROPHONE();
  AccessAnswer answer;
  service_->requestMicrophoneAccess(answer.handler());
  ASSERT_TRUE(answer.wait());
  EXPECT_TRUE(*answer.granted);
  EXPECT_NE(answer.thread, std::this_thread::get_id());

  const AudioFormat format = engine().inputNode().outputFormatForBus(0);
  EXPECT_EQ(format.sampleRate, 16000);
  EXPECT_EQ(format.channelCount, 1u);
  EXPECT_FALSE(engine().isRunning());
}

TEST_F(PulseCapture, DeliversWhatIsPlayedInFullBuffersOffTheMainThread) {
  REQUIRE_VIRTUAL_MICROPHONE();
  TapRecorder& recorder = newRecorder();
  ASSERT_NO_FATAL_FAILURE(startWithTap(recorder));
  ASSERT_NO_FATAL_FAILURE(playTone());

  EXPECT_TRUE(recorder.waitForPeakAbove(0.1f)) << "the tone never reached the tap";
  EXPECT_FALSE(recorder.onMainThread());
  EXPECT_EQ(recorder.oddBuffers(), 0u);
  EXPECT_EQ(recorder.timeGaps(), 0u);
  EXPECT_EQ(recorder.format().sampleRate, 16000);
  EXPECT_EQ(recorder.format().channelCount, 1u);
}

TEST_F(PulseCapture, DeliversInTheFormatTheTapAskedFor) {
  REQUIRE_VIRTUAL_MICROPHONE();
  TapRecorder& recorder = newRecorder();
  engine().inputNode().installTap(0, 1024, {48000, 2}, recorder.block());
  const Status started = engine().start();
  ASSERT_TRUE(started.ok()) << started.message();
  ASSERT_TRUE(recorder.waitForMore(3));
  EXPECT_EQ(recorder.format().sampleRate, 48000);
  EXPECT_EQ(recorder.format().channelCount, 2u);
  EXPECT_EQ(recorder.oddBuffers(), 0u);
}

TEST_F(PulseCapture, RemovingTheTapEndsItsCallsWhileCaptureRuns) {
  REQUIRE_VIRTUAL_MICROPHONE();
  TapRecorder& recorder = newRecorder();
  ASSERT_NO_FATAL_FAILURE(startWithTap(recorder));
  ASSERT_TRUE(recorder.waitForMore(3));

  engine().inputNode().removeTap(0);
  EXPECT_FALSE(recorder.callArrivesWithin(300ms));
  EXPECT_TRUE(engine().isRunning());
}

TEST_F(PulseCapture, StopEndsCaptureAndCallsAndCanStartAgain) {
  REQUIRE_VIRTUAL_MICROPHONE();
  TapRecorder& first = newRecorder();
  ASSERT_NO_FATAL_FAILURE(startWithTap(first));
  ASSERT_TRUE(first.waitForMore(3));

  engine().stop();
  EXPECT_FALSE(engine().isRunning());
  EXPECT_FALSE(first.callArrivesWithin(300ms));

  TapRecorder& second = newRecorder();
  engine().inputNode().installTap(0, 1024, {16000, 1}, second.block());
  const Status started = engine().start();
  ASSERT_TRUE(started.ok()) << started.message();
  EXPECT_TRUE(second.waitForMore(3));
}

// A server of our own, killed while we record from it.
TEST(PulseServerLoss, CaptureEndsAndStopAndRemoveTapStillReturn) {
  REQUIRE_VIRTUAL_MICROPHONE();
  const std::string dir = ::testing::TempDir() + "/capture-server-loss";
  const std::string script = kVirtualMic.string();
  ASSERT_EQ(std::system(("bash " + script + " start " + dir + " >/dev/null </dev/null").c_str()),
            0);
  std::ifstream pidFile(dir + "/pulseaudio.pid");
  pid_t daemon = 0;
  pidFile >> daemon;
  ASSERT_GT(daemon, 0);

  {
    ScopedEnv server("PULSE_SERVER", "unix:" + dir + "/native");
    auto service = makeLinuxAudioInputService();
    auto engine = service->makeEngine();
    TapRecorder recorder;
    const AudioFormat format = engine->inputNode().outputFormatForBus(0);
    engine->inputNode().installTap(0, 1024, format, recorder.block());
    const Status started = engine->start();
    ASSERT_TRUE(started.ok()) << started.message();
    ASSERT_TRUE(recorder.waitForMore(3));

    ASSERT_EQ(kill(daemon, SIGKILL), 0);
    const auto killed = Clock::now();
    const auto deadline = killed + 10s;
    while (engine->isRunning() && Clock::now() < deadline) std::this_thread::sleep_for(5ms);
    EXPECT_FALSE(engine->isRunning()) << "the lost server was not noticed";
    RecordProperty("loss_noticed_ms", std::to_string(millisecondsSince(killed)));

    const auto stopStart = Clock::now();
    engine->stop();
    engine->inputNode().removeTap(0);
    RecordProperty("stop_and_remove_ms", std::to_string(millisecondsSince(stopStart)));
    EXPECT_FALSE(recorder.callArrivesWithin(100ms));
    EXPECT_FALSE(engine->start().ok()) << "starting without a server must fail";
  }
  std::system(("bash " + script + " stop " + dir).c_str());
}

// A server that admits only its own user: anyone else is refused, as a sandbox would be.
TEST(PulseAccess, ARefusingServerMeansNoMicrophonePermission) {
  REQUIRE_VIRTUAL_MICROPHONE();
  if (geteuid() != 0) GTEST_SKIP() << "needs root to ask as another user";
  const std::string dir = ::testing::TempDir() + "/capture-refusing-server";
  const std::string socket = dir + "/native";
  const std::string start =
      "rm -rf " + dir + " && mkdir -p " + dir + "/home " + dir + "/config && mkdir -m 700 " + dir +
      "/run || exit 1; HOME=" + dir + "/home XDG_RUNTIME_DIR=" + dir +
      "/run XDG_CONFIG_HOME=" + dir +
      "/config pulseaudio -n --daemonize=no --exit-idle-time=-1 --realtime=no "
      "--high-priority=no --use-pid-file=no -L 'module-native-protocol-unix auth-anonymous=0 "
      "auth-cookie-enabled=0 socket=" +
      socket + "' -L 'module-null-sink sink_name=vspk' </dev/null >" + dir +
      "/log 2>&1 & echo $! >" + dir + "/pid";
  ASSERT_EQ(std::system(start.c_str()), 0) << start;
  const std::string ready = "for i in $(seq 100); do PULSE_SERVER=unix:" + socket +
                            " pactl info >/dev/null 2>&1 && exit 0; sleep 0.1; done; exit 1";
  const bool started = std::system(ready.c_str()) == 0;

  bool answered = false;
  std::optional<bool> granted;
  AudioFormat format{1, 1};
  if (started) {
    // Ask as "nobody", whom the server does not admit. Only the real and effective ids change,
    // so root comes back afterwards. A forked child cannot do this: libpulse refuses to work in
    // the child of a process that used it.
    ScopedEnv server("PULSE_SERVER", "unix:" + socket);
    ScopedEnv home("HOME", "/tmp");
    struct AsNobody {
      bool ok = setresgid(65534, 65534, 0) == 0 && setresuid(65534, 65534, 0) == 0;
      ~AsNobody() { [[maybe_unused]] int restored = setresuid(0, 0, 0) + setresgid(0, 0, 0); }
    } asNobody;
    if (asNobody.ok) {
      auto service = makeLinuxAudioInputService();
      AccessAnswer answer;
      service->requestMicrophoneAccess(answer.handler());
      answered = answer.wait();
      granted = answer.granted;
      format = service->makeEngine()->inputNode().outputFormatForBus(0);
    }
  }
  std::system(("kill $(cat " + dir + "/pid) 2>/dev/null").c_str());
  ASSERT_TRUE(started) << "the refusing server did not start; see " << dir << "/log";
  ASSERT_TRUE(answered);
  EXPECT_FALSE(*granted);
  EXPECT_EQ(format.sampleRate, 0);
  EXPECT_EQ(format.channelCount, 0u);
}

// No server where PULSE_SERVER points: the ALSA fallback answers, and without a sound card that
// means no microphone at all.
TEST(NoSoundServer, MeansNoMicrophoneQuietlyButNoRefusal) {
  ScopedEnv server("PULSE_SERVER", "unix:/nonexistent/mic-transcriber-test/native");
  StderrCapture stderrText;
  const auto begin = Clock::now();

  PulseServer connection;
  EXPECT_FALSE(connection.waitSettled().ok());
  EXPECT_TRUE(connection.noServer());

  auto service = makeLinuxAudioInputService();
  auto engine = service->makeEngine();
  AccessAnswer answer;
  service->requestMicrophoneAccess(answer.handler());
  ASSERT_TRUE(answer.wait());
  EXPECT_TRUE(*answer.granted);
  EXPECT_NE(answer.thread, std::this_thread::get_id());

  const AudioFormat format = engine->inputNode().outputFormatForBus(0);
  const Result<AudioFormat> alsa = makeAlsaCaptureSource()->format();
  const AudioFormat alsaFormat = alsa ? *alsa : AudioFormat{};
  EXPECT_EQ(format.sampleRate, alsaFormat.sampleRate);
  EXPECT_EQ(format.channelCount, alsaFormat.channelCount);
  const double elapsed = millisecondsSince(begin);
  if (!(alsaFormat.sampleRate > 0)) {
    EXPECT_FALSE(engine->start().ok());
    EXPECT_FALSE(engine->isRunning());
  }
  engine.reset();
  service.reset();
  EXPECT_EQ(stderrText.restore(), "");
  RecordProperty("no_server_format_ms", std::to_string(elapsed));
}

}  // namespace
}  // namespace mic
