#include <atomic>
#include <thread>

#include "session_fixture.h"

namespace mic::testing {
namespace {

using AudioThread = SessionTest;

// The audio thread calls onAudioBuffer directly (as a tap that is not yet removed could) while
// the main thread tears the session down. Under TSan this shows the request guard holds.
TEST_F(AudioThread, BuffersRacingCleanUpAreSafe) {
  for (int round = 0; round < 50; ++round) {
    FakePlatform other;
    other.speech.recognizers["en_US"] = std::make_shared<FakeRecognizer>();
    auto s = std::make_shared<SpeechSession>(std::nullopt, other.platform(), other.recorder());
    s->start();
    other.speech.authorizationHandler(SpeechAuthorizationStatus::authorized);
    other.loop.runPending();
    other.audio.accessHandler(true);
    other.loop.runPending();
    auto request = other.speech.request;

    std::atomic<bool> go{false};
    std::atomic<bool> stop{false};
    std::thread audio([&] {
      FakeBuffer buffer({48000, 1}, std::vector<float>(1024, 0.f));
      go = true;
      while (!stop) s->onAudioBuffer(buffer, AudioTime{});
    });
    while (!go) std::this_thread::yield();
    s->fail("done");
    stop = true;
    audio.join();
    EXPECT_EQ(request->endAudioCount, 1);
    const int appended = request->appendedBuffers;
    s->onAudioBuffer(FakeBuffer({48000, 1}, std::vector<float>(4, 0.f)), AudioTime{});
    EXPECT_EQ(request->appendedBuffers, appended) << "no buffer reaches a released request";
  }
}

}  // namespace
}  // namespace mic::testing
