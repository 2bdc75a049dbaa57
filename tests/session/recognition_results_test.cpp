#include <thread>

#include "platform/apple/recognition_errors.h"
#include "session_fixture.h"

namespace mic::testing {
namespace {

using Results = SessionTest;

TEST_F(Results, OnlyChangedTranscriptionsArePartials) {
  startListening();
  report("");  // equals the initial empty text
  report("A");
  report("A");
  report("A B");
  EXPECT_EQ(linesAfterStart(), (Lines{{"partial", "A"}, {"partial", "A B"}}));
  EXPECT_FALSE(exitStatus());
}

TEST_F(Results, CanonicallyEquivalentTextIsNoChange) {
  startListening();
  report("caf\xC3\xA9");   // precomposed é
  report("cafe\xCC\x81");  // e + combining acute
  EXPECT_EQ(linesAfterStart(), (Lines{{"partial", "caf\xC3\xA9"}}));
}

TEST_F(Results, PartialsKeepTheUntrimmedWholeText) {
  startListening();
  report(" hello");
  report(" hello world ");
  EXPECT_EQ(linesAfterStart(), (Lines{{"partial", " hello"}, {"partial", " hello world "}}));
}

TEST_F(Results, FinalResultCompletes) {
  startListening();
  report("hello");
  report("hello there ", true);
  EXPECT_EQ(linesAfterStart(),
            (Lines{{"partial", "hello"}, {"partial", "hello there "}, {"final", "hello there"}}));
  EXPECT_EQ(exitStatus(), 0);
  EXPECT_EQ(fake.speech.request->endAudioCount, 1);
  EXPECT_EQ(recognizer->task->cancelCount, 1);
}

TEST_F(Results, UnchangedFinalGoesStraightToFinal) {
  startListening();
  report("hello");
  report("hello", true);
  EXPECT_EQ(linesAfterStart(), (Lines{{"partial", "hello"}, {"final", "hello"}}));
  EXPECT_EQ(exitStatus(), 0);
}

TEST_F(Results, BlankFinalIsNoSpeech) {
  startListening();
  report("  ", true);
  EXPECT_EQ(linesAfterStart(), (Lines{{"partial", "  "}, {"error", "no speech was detected"}}));
  EXPECT_EQ(exitStatus(), 2);
}

TEST_F(Results, ErrorBeforeWordsFailsWithThePlatformText) {
  startListening();
  report(" ");
  reportError("The recognizer went away.");
  EXPECT_EQ(linesAfterStart(), (Lines{{"partial", " "}, {"error", "The recognizer went away."}}));
  EXPECT_EQ(exitStatus(), 1);
}

TEST_F(Results, ErrorAfterWordsCompletesWithTheTranscript) {
  startListening();
  report("hello world");
  reportError("The recognizer went away.");
  EXPECT_EQ(linesAfterStart(), (Lines{{"partial", "hello world"}, {"final", "hello world"}}));
  EXPECT_EQ(exitStatus(), 0);
}

TEST_F(Results, ResultAndErrorTogether) {
  // A non-final result with an error: the words count, then the error ends the run.
  startListening();
  reportBoth("hi", false, "lost");
  EXPECT_EQ(linesAfterStart(), (Lines{{"partial", "hi"}, {"final", "hi"}}));
  EXPECT_EQ(exitStatus(), 0);
}

TEST_F(Results, FinalResultIgnoresAnErrorInTheSameReport) {
  startListening();
  reportBoth("", true, "lost");
  EXPECT_EQ(linesAfterStart(), (Lines{{"error", "no speech was detected"}}));
  EXPECT_EQ(exitStatus(), 2);
}

// The recognizer's own "no speech" error, as the backend classifies it, is the no-speech outcome;
// every other error stays a failure (or ends with the words heard).
struct NoSpeechCase {
  const char* name;
  const char* before;  // a transcription reported first, if not empty
  bool draining;
  const char* domain;
  long code;
  const char* description;
  std::vector<std::pair<std::string, std::string>> lines;
  int status;
};

// One run of its own for each case.
class NoSpeechRun : public SessionTest {
 public:
  void TestBody() override {}

  void play(const NoSpeechCase& c) {
    startListening();
    if (*c.before) report(c.before);
    if (c.draining) session->stopInput();
    recognizer->task->handler(std::nullopt,
                              RecognitionError{c.description, isNoSpeechError(c.domain, c.code)});
    fake.loop.runPending();
    if (c.draining) {
      EXPECT_FALSE(exitStatus()) << "the drain ending finishes the run";
      fake.loop.advance(SpeechSession::kDrainTime);
    }
    EXPECT_EQ(linesAfterStart(), c.lines);
    EXPECT_EQ(exitStatus(), c.status);
  }
};

TEST(ResultErrors, TheRecognizersNoSpeechErrorIsNothingHeard) {
  const NoSpeechCase cases[] = {
      {"no speech, nothing reported",
       "",
       false,
       "kAFAssistantErrorDomain",
       1110,
       "No speech detected",
       {{"error", "no speech was detected"}},
       2},
      {"no speech after a blank transcription",
       " ",
       false,
       "kAFAssistantErrorDomain",
       1110,
       "No speech detected",
       {{"partial", " "}, {"error", "no speech was detected"}},
       2},
      {"no speech after words",
       "hello",
       false,
       "kAFAssistantErrorDomain",
       1110,
       "No speech detected",
       {{"partial", "hello"}, {"final", "hello"}},
       0},
      {"another code of that domain",
       "",
       false,
       "kAFAssistantErrorDomain",
       203,
       "Retry",
       {{"error", "Retry"}},
       1},
      {"that code in another domain",
       "",
       false,
       "kLSRErrorDomain",
       1110,
       "Failed",
       {{"error", "Failed"}},
       1},
      {"no speech while draining",
       "",
       true,
       "kAFAssistantErrorDomain",
       1110,
       "No speech detected",
       {{"status", "finishing transcript"}, {"error", "no speech was detected"}},
       2},
  };
  for (const NoSpeechCase& c : cases) {
    SCOPED_TRACE(c.name);
    NoSpeechRun run;
    run.play(c);
  }
}

TEST_F(Results, ErrorWhileDrainingIsIgnored) {
  startListening();
  session->stopInput();
  reportError("lost");
  EXPECT_EQ(linesAfterStart(), (Lines{{"status", "finishing transcript"}}));
  EXPECT_FALSE(exitStatus());
  fake.loop.advance(2.0);
  EXPECT_EQ(exitStatus(), 2);
}

TEST_F(Results, ReportsAfterTheEndWriteNothing) {
  startListening();
  report("one");
  session->complete();
  const auto before = fake.lines.size();
  report("one two");
  report("one two", true);
  reportError("late");
  EXPECT_EQ(fake.lines.size(), before);
  EXPECT_EQ(exitStatus(), 0);
}

TEST_F(Results, ReportsFromAnotherThreadAreHandledOnTheLoop) {
  startListening();
  std::thread platform([&] {
    recognizer->task->handler(RecognitionResult{"hi", false}, std::nullopt);
  });
  platform.join();
  EXPECT_EQ(fake.lines.size(), 2u) << "nothing may happen off the main loop";
  fake.loop.runPending();
  EXPECT_EQ(linesAfterStart(), (Lines{{"partial", "hi"}}));
}

}  // namespace
}  // namespace mic::testing
