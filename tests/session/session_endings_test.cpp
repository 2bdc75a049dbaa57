#include "session_fixture.h"

namespace mic::testing {
namespace {

using Endings = SessionTest;

TEST_F(Endings, CompleteWritesTrimmedFinalAndExitsZero) {
  startListening();
  report("  word \n");
  session->complete();
  EXPECT_EQ(linesAfterStart(), (Lines{{"partial", "  word \n"}, {"final", "word"}}));
  EXPECT_EQ(exitStatus(), 0);
}

TEST_F(Endings, CompleteWithBlankTranscriptIsNoSpeech) {
  for (const std::string blank : {"", " \t\n\r", "\xC2\xA0\xE2\x80\xA8"}) {
    FakePlatform other;
    auto s = std::make_shared<SpeechSession>(std::nullopt, other.platform(), other.recorder());
    other.speech.recognizers["en_US"] = std::make_shared<FakeRecognizer>();
    s->start();
    other.speech.authorizationHandler(SpeechAuthorizationStatus::authorized);
    other.loop.runPending();
    other.audio.accessHandler(true);
    other.loop.runPending();
    other.speech.recognizers["en_US"]->task->handler(RecognitionResult{blank, false}, std::nullopt);
    other.loop.runPending();
    s->complete();
    ASSERT_FALSE(other.lines.empty());
    EXPECT_EQ(other.lines.back().kind, "error");
    EXPECT_EQ(other.lines.back().text, "no speech was detected");
    EXPECT_EQ(other.process.exits, std::vector<int>{2});
  }
}

TEST_F(Endings, OnlyTheFirstEndingWrites) {
  startListening();
  report("hello");
  session->fail("boom");
  session->complete();
  session->fail("again");
  EXPECT_EQ(linesAfterStart(), (Lines{{"partial", "hello"}, {"error", "boom"}}));
  EXPECT_EQ(exitStatus(), 1);
}

TEST_F(Endings, FailReleasesEverythingBeforeWriting) {
  startListening();
  ASSERT_EQ(fake.loop.activeTimerCount(), 1u);
  bool releasedFirst = false;
  fake.onLine = [&](const EventLine& line) {
    if (line.kind != "error") return;
    releasedFirst = fake.loop.activeTimerCount() == 0 && !engine().running &&
                    !engine().node.hasTap() && fake.speech.request->endAudioCount == 1 &&
                    recognizer->task->cancelCount == 1;
  };
  session->fail("boom");
  EXPECT_TRUE(releasedFirst);
  EXPECT_EQ(exitStatus(), 1);
}

TEST_F(Endings, CleanUpWithNothingSetUpAndTwiceIsHarmless) {
  makeSession();
  session->cleanUp();
  session->cleanUp();
  EXPECT_EQ(engine().stopCount, 0);
  EXPECT_EQ(engine().node.removeTapCount, 0);

  startListening();
  session->cleanUp();
  session->cleanUp();
  EXPECT_EQ(engine().node.removeTapCount, 1);
  EXPECT_EQ(fake.speech.request->endAudioCount, 1);
  EXPECT_EQ(recognizer->task->cancelCount, 1);
  EXPECT_EQ(fake.lines.size(), 2u) << "cleanUp writes nothing";
  EXPECT_FALSE(exitStatus());
}

}  // namespace
}  // namespace mic::testing
