#include <thread>

#include "session_fixture.h"

namespace mic::testing {
namespace {

using Permissions = SessionTest;

TEST_F(Permissions, StartAnnouncesAndAsksForSpeechOnly) {
  makeSession();
  session->start();
  EXPECT_EQ(lines(), (Lines{{"status", "requesting local speech access"}}));
  EXPECT_EQ(fake.speech.authorizationRequests, 1);
  EXPECT_EQ(fake.audio.accessRequests, 0) << "the microphone is asked only after speech";
}

TEST_F(Permissions, SpeechNotAuthorizedFailsWithoutAskingForTheMicrophone) {
  for (auto status : {SpeechAuthorizationStatus::notDetermined, SpeechAuthorizationStatus::denied,
                      SpeechAuthorizationStatus::restricted, SpeechAuthorizationStatus{7}}) {
    FakePlatform other;
    auto s = std::make_shared<SpeechSession>(std::nullopt, other.platform(), other.recorder());
    s->start();
    other.speech.authorizationHandler(status);
    other.loop.runPending();
    ASSERT_EQ(other.lines.size(), 2u);
    EXPECT_EQ(other.lines[1].kind, "error");
    EXPECT_EQ(other.lines[1].text, "speech recognition permission was not granted");
    EXPECT_EQ(other.process.exits, std::vector<int>{1});
    EXPECT_EQ(other.audio.accessRequests, 0);
  }
}

TEST_F(Permissions, MicrophoneRefused) {
  makeSession();
  session->start();
  grantSpeech(SpeechAuthorizationStatus::authorized);
  EXPECT_EQ(fake.audio.accessRequests, 1);
  grantMicrophone(false);
  EXPECT_EQ(lines(), (Lines{{"status", "requesting local speech access"},
                            {"error", "microphone permission was not granted"}}));
  EXPECT_EQ(exitStatus(), 1);
  EXPECT_EQ(fake.speech.requestedLocales.size(), 0u);
}

TEST_F(Permissions, AnswersOnOtherThreadsAreDecidedOnTheMainLoop) {
  makeSession();
  session->start();
  std::thread([&] {
    fake.speech.authorizationHandler(SpeechAuthorizationStatus::authorized);
  }).join();
  EXPECT_EQ(fake.audio.accessRequests, 0);
  fake.loop.runPending();
  EXPECT_EQ(fake.audio.accessRequests, 1);
  std::thread([&] { fake.audio.accessHandler(true); }).join();
  EXPECT_EQ(fake.speech.requestedLocales.size(), 0u);
  fake.loop.runPending();
  EXPECT_EQ(fake.speech.requestedLocales.size(), 1u) << "beginRecognition runs exactly once";
  EXPECT_EQ(lines().back(), (std::pair<std::string, std::string>{"status", "listening locally"}));
}

}  // namespace
}  // namespace mic::testing
