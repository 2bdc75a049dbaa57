#include "session_fixture.h"

namespace mic::testing {
namespace {

using Triggers = SessionTest;
const std::pair<std::string, std::string> kFinishing{"status", "finishing transcript"};

TEST_F(Triggers, PauseAfterWordsStopsInputThenDrains) {
  startListening();  // clock at 0; ticks at 0.2, 0.4, ...
  report("hello");   // lastChange = 0
  fake.loop.advance(1.4);
  EXPECT_FALSE(stoppedInput()) << "exactly 1.4 s of pause does not stop";
  fake.loop.advance(0.2);
  EXPECT_TRUE(stoppedInput());
  EXPECT_EQ(linesAfterStart(), (Lines{{"partial", "hello"}, kFinishing}));
  EXPECT_FALSE(engine().running);
  EXPECT_FALSE(engine().node.hasTap());
  EXPECT_EQ(fake.speech.request->endAudioCount, 1);
  EXPECT_EQ(recognizer->task->cancelCount, 0) << "the task keeps running through the drain";

  fake.loop.advance(1.9);
  EXPECT_FALSE(exitStatus());
  fake.loop.advance(0.1);
  EXPECT_EQ(linesAfterStart(), (Lines{{"partial", "hello"}, kFinishing, {"final", "hello"}}));
  EXPECT_EQ(exitStatus(), 0);
}

TEST_F(Triggers, EachChangeRestartsThePause) {
  startListening();
  report("a");
  fake.loop.advance(1.2);
  report("a b");
  fake.loop.advance(1.2);  // 2.4 s since "a", 1.2 s since "a b"
  EXPECT_FALSE(stoppedInput());
  fake.loop.advance(0.4);
  EXPECT_TRUE(stoppedInput());
}

TEST_F(Triggers, UnchangedReportsDoNotRestartThePause) {
  startListening();
  report("a");
  for (int i = 0; i < 8; ++i) {
    fake.loop.advance(0.2);
    report("a");
  }
  EXPECT_TRUE(stoppedInput());
}

TEST_F(Triggers, NoWordsNoSilenceStop) {
  startListening();
  report("   ");
  fake.loop.advance(30);
  EXPECT_FALSE(stoppedInput());
}

TEST_F(Triggers, BlankTranscriptSwitchesSilenceCheckOffUntilWordsReturn) {
  startListening();
  report("hello");
  fake.loop.advance(0.4);
  report(" ");
  fake.loop.advance(10);
  EXPECT_FALSE(stoppedInput());
  report("hello again");
  fake.loop.advance(1.6);
  EXPECT_TRUE(stoppedInput());
}

TEST_F(Triggers, StandardInputStopsListening) {
  startListening();
  ASSERT_EQ(fake.loop.backgroundWorkCount(), 1u);
  fake.loop.runBackgroundWork();  // a line, or end of input
  EXPECT_EQ(fake.process.linesRead, 1);
  fake.loop.runPending();
  EXPECT_EQ(linesAfterStart(), (Lines{kFinishing}));
  fake.loop.advance(2.0);
  EXPECT_EQ(linesAfterStart(), (Lines{kFinishing, {"error", "no speech was detected"}}));
  EXPECT_EQ(exitStatus(), 2);
}

TEST_F(Triggers, ListeningLimitStopsAtSixtySeconds) {
  startListening();
  fake.loop.advance(59.999);
  EXPECT_FALSE(stoppedInput());
  fake.loop.advance(0.001);
  EXPECT_EQ(linesAfterStart(), (Lines{kFinishing}));
}

// A microphone unplugged before anyone spoke must not leave the run waiting for the limit.
TEST_F(Triggers, CaptureEndingBeforeWordsStopsListening) {
  startListening();
  fake.loop.advance(0.3);
  engine().endCapture();  // on the capture thread: nothing happens until the main loop runs
  EXPECT_EQ(linesAfterStart(), Lines{});
  fake.loop.runPending();
  EXPECT_EQ(linesAfterStart(), (Lines{kFinishing}));
  EXPECT_FALSE(engine().node.hasTap());
  EXPECT_EQ(fake.speech.request->endAudioCount, 1);
  fake.loop.advance(1.9);
  EXPECT_FALSE(exitStatus());
  fake.loop.advance(0.1);
  EXPECT_EQ(linesAfterStart(), (Lines{kFinishing, {"error", "no speech was detected"}}));
  EXPECT_EQ(exitStatus(), 2);
}

TEST_F(Triggers, CaptureEndingAfterWordsKeepsTheTranscript) {
  startListening();
  report("hello");
  fake.loop.advance(0.4);
  engine().endCapture();
  fake.loop.runPending();
  ASSERT_EQ(linesAfterStart(), (Lines{{"partial", "hello"}, kFinishing}));
  report("hello there");  // the recognizer still drains what it had
  fake.loop.advance(1.9);
  EXPECT_FALSE(exitStatus());
  fake.loop.advance(0.1);
  EXPECT_EQ(
      linesAfterStart(),
      (Lines{
          {"partial", "hello"}, kFinishing, {"partial", "hello there"}, {"final", "hello there"}}));
  EXPECT_EQ(exitStatus(), 0);
}

TEST_F(Triggers, FinalResultDuringDrainEndsAtOnce) {
  startListening();
  report("hello");
  session->stopInput();
  fake.loop.advance(0.5);
  report("hello world", true);
  EXPECT_EQ(
      linesAfterStart(),
      (Lines{
          {"partial", "hello"}, kFinishing, {"partial", "hello world"}, {"final", "hello world"}}));
  fake.loop.advance(5);  // the drain ending finds the run finished
  EXPECT_EQ(fake.lines.size(), 6u);
  EXPECT_EQ(exitStatus(), 0);
}

TEST_F(Triggers, PartialsStillCountDuringDrain) {
  startListening();
  report("hello");
  session->stopInput();
  report("hello there");
  fake.loop.advance(2.0);
  EXPECT_EQ(
      linesAfterStart(),
      (Lines{
          {"partial", "hello"}, kFinishing, {"partial", "hello there"}, {"final", "hello there"}}));
}

TEST_F(Triggers, SecondTriggerWritesNothing) {
  startListening();
  report("hi");
  fake.loop.advance(1.6);  // silence
  ASSERT_TRUE(stoppedInput());
  fake.loop.runBackgroundWork();  // a line
  fake.loop.runPending();
  session->stopInput();
  EXPECT_EQ(linesAfterStart(), (Lines{{"partial", "hi"}, kFinishing}));
  EXPECT_EQ(engine().stopCount, 1);
  EXPECT_EQ(fake.speech.request->endAudioCount, 1);
  fake.loop.advance(60);  // the limit, and one drain ending only
  EXPECT_EQ(linesAfterStart(), (Lines{{"partial", "hi"}, kFinishing, {"final", "hi"}}));
}

// A signal (or the Mac's first process gone), at each stage of a run. It may come on any thread;
// the session acts only once its main loop runs. Repeated, as a Ctrl-C that reaches the Mac's
// copy twice (the terminal's and the one passed on), it counts once.
TEST(StopRequestTest, EndsTheRunAsALineOnStandardInputDoes) {
  struct Case {
    const char* name;
    bool listening;
    const char* heard;  // reported before the request, if anything
    bool drainingAlready;
    std::vector<std::pair<std::string, std::string>>
        after;  // after "requesting local speech access"
    int status;
  };
  const std::vector<Case> cases = {
      {"before listening: at once, nothing heard",
       false,
       nullptr,
       false,
       {{"error", "no speech was detected"}},
       2},
      {"while listening, words heard",
       true,
       "hello there",
       false,
       {{"status", "listening locally"},
        {"partial", "hello there"},
        kFinishing,
        {"final", "hello there"}},
       0},
      {"while listening, nothing heard",
       true,
       nullptr,
       false,
       {{"status", "listening locally"}, kFinishing, {"error", "no speech was detected"}},
       2},
      {"while draining: nothing more",
       true,
       "hi",
       true,
       {{"status", "listening locally"}, {"partial", "hi"}, kFinishing, {"final", "hi"}},
       0},
  };
  // A fresh session for each case.
  struct Run : SessionTest {
    void TestBody() override {}
    void go(const Case& c) {
      makeSession();
      session->start();
      ASSERT_EQ(fake.process.stopWatches, 1) << c.name;
      if (c.listening) {
        grantSpeech(SpeechAuthorizationStatus::authorized);
        grantMicrophone(true);
      }
      if (c.heard) report(c.heard);
      if (c.drainingAlready) session->stopInput();
      fake.loop.advance(0.5);
      fake.process.stopRequestHandler();
      fake.process.stopRequestHandler();  // a second signal
      fake.loop.runPending();
      if (c.listening) {
        EXPECT_FALSE(engine().running) << c.name;
        EXPECT_FALSE(engine().node.hasTap()) << c.name;
        EXPECT_EQ(fake.speech.request->endAudioCount, 1) << c.name;
        EXPECT_FALSE(exitStatus()) << c.name << ": the drain comes first";
      }
      fake.loop.advance(2.0);
      const Lines all = lines();
      EXPECT_EQ(Lines(all.begin() + 1, all.end()), c.after) << c.name;
      EXPECT_EQ(exitStatus(), c.status) << c.name;
    }
  };
  for (const Case& c : cases) Run().go(c);
}

TEST_F(Triggers, NothingFiresAfterTheEnd) {
  startListening();
  report("hi", true);
  const auto before = fake.lines.size();
  fake.loop.runBackgroundWork();
  fake.loop.advance(120);
  EXPECT_EQ(fake.lines.size(), before);
  EXPECT_EQ(exitStatus(), 0);
}

}  // namespace
}  // namespace mic::testing
