#include "session_fixture.h"

namespace mic::testing {
namespace {

using Start = SessionTest;
const std::pair<std::string, std::string> kRequesting{"status", "requesting local speech access"};

TEST_F(Start, SuccessfulStartListensAndArmsEveryTrigger) {
  startListening();
  EXPECT_EQ(lines(), (Lines{kRequesting, {"status", "listening locally"}}));
  EXPECT_TRUE(engine().running);
  EXPECT_EQ(engine().prepareCount, 1);
  EXPECT_EQ(engine().node.tapBus, 0u);
  EXPECT_EQ(engine().node.tapBufferSize, 1024u);
  EXPECT_EQ(engine().node.tapFormat.sampleRate, 48000);
  EXPECT_TRUE(engine().node.hasTap());
  ASSERT_TRUE(fake.speech.request);
  EXPECT_TRUE(fake.speech.request->requiresOnDevice);
  EXPECT_TRUE(fake.speech.request->reportsPartials);
  EXPECT_EQ(recognizer->task->request, fake.speech.request);
  EXPECT_EQ(fake.loop.activeTimerCount(), 1u);
  EXPECT_EQ(fake.loop.backgroundWorkCount(), 1u);
  EXPECT_EQ(fake.loop.delayedWorkCount(), 1u);
  EXPECT_FALSE(exitStatus());
}

TEST_F(Start, CurrentLocaleForNoArgumentEmptyAndAuto) {
  fake.locales.currentIdentifier = "en_US";
  for (std::optional<std::string> argument :
       {std::optional<std::string>{}, std::optional<std::string>{""},
        std::optional<std::string>{"auto"}, std::optional<std::string>{"AUTO"},
        std::optional<std::string>{"Auto"}}) {
    fake.speech.requestedLocales.clear();
    startListening(argument);
    EXPECT_EQ(fake.speech.requestedLocales, std::vector<std::string>{"en_US"});
  }
}

TEST_F(Start, IdentifierIsPassedOnUnchanged) {
  for (const std::string id : {"en-US", "autox", "--help", "aut\xC3\xB6"}) {
    fake.speech.requestedLocales.clear();
    startListening(id);
    EXPECT_EQ(fake.speech.requestedLocales, std::vector<std::string>{id});
  }
}

// Runs a start that fails at some step and checks the common outcome: the one error line,
// status 1, everything torn down, no trigger armed.
void expectFailedStart(SessionTest& t, FakePlatform& fake, const std::string& message) {
  (void)t;
  ASSERT_EQ(fake.lines.size(), 2u);
  EXPECT_EQ(fake.lines[1].kind, "error");
  EXPECT_EQ(fake.lines[1].text, message);
  EXPECT_EQ(fake.process.exits, std::vector<int>{1});
  EXPECT_FALSE(fake.audio.engine->node.hasTap());
  EXPECT_FALSE(fake.audio.engine->running);
  EXPECT_EQ(fake.loop.activeTimerCount(), 0u);
  EXPECT_EQ(fake.loop.backgroundWorkCount(), 0u);
  EXPECT_EQ(fake.loop.delayedWorkCount(), 0u);
}

TEST_F(Start, UnknownLocale) {
  startListening("xx-YY");
  expectFailedStart(*this, fake, "speech recognition is unavailable for this language");
  EXPECT_FALSE(fake.speech.request) << "no request before a recognizer";
}

TEST_F(Start, RecognizerThatNeedsTheNetwork) {
  recognizer->onDevice = false;
  startListening();
  expectFailedStart(*this, fake,
                    "this mac cannot guarantee on-device speech recognition for this language");
}

TEST_F(Start, NoUsableInputFormat) {
  for (AudioFormat format : {AudioFormat{0, 1}, AudioFormat{48000, 0}, AudioFormat{-1, 2}}) {
    FakePlatform other;
    other.speech.recognizers["en_US"] = std::make_shared<FakeRecognizer>();
    auto s = std::make_shared<SpeechSession>(std::nullopt, other.platform(), other.recorder());
    other.audio.engine->node.format = format;
    s->start();
    other.speech.authorizationHandler(SpeechAuthorizationStatus::authorized);
    other.loop.runPending();
    other.audio.accessHandler(true);
    other.loop.runPending();
    expectFailedStart(*this, other, "no microphone input is available");
    EXPECT_EQ(other.speech.request->endAudioCount, 1) << "the request made before the check ends";
  }
}

TEST_F(Start, EngineStartFailureTearsDownTapAndTask) {
  makeSession();
  engine().startError = "device is busy";
  session->start();
  grantSpeech(SpeechAuthorizationStatus::authorized);
  grantMicrophone(true);
  expectFailedStart(*this, fake, "microphone could not start: device is busy");
  EXPECT_EQ(engine().node.removeTapCount, 1);
  EXPECT_EQ(recognizer->task->cancelCount, 1);
  EXPECT_EQ(fake.speech.request->endAudioCount, 1);
}

TEST_F(Start, AudioBuffersReachTheRequestUntilInputStops) {
  startListening();
  FakeBuffer buffer({48000, 1}, std::vector<float>(1024, 0.f));
  EXPECT_TRUE(engine().node.deliver(buffer));
  EXPECT_TRUE(engine().node.deliver(buffer));
  EXPECT_EQ(fake.speech.request->appendedBuffers, 2);
  EXPECT_EQ(fake.speech.request->appendedFrames, 2048);
  session->stopInput();
  EXPECT_FALSE(engine().node.deliver(buffer));
  EXPECT_EQ(fake.speech.request->appendedBuffers, 2);
}

}  // namespace
}  // namespace mic::testing
