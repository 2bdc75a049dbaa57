#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "fakes/fake_platform.h"
#include "session/speech_session.h"

namespace mic::testing {

// A session on fakes, with helpers that walk it to the state a test needs.
class SessionTest : public ::testing::Test {
 protected:
  FakePlatform fake;
  std::shared_ptr<FakeRecognizer> recognizer = std::make_shared<FakeRecognizer>();
  std::shared_ptr<SpeechSession> session;

  SessionTest() { fake.speech.recognizers["en_US"] = recognizer; }

  void makeSession(std::optional<std::string> locale = std::nullopt) {
    session = std::make_shared<SpeechSession>(std::move(locale), fake.platform(), fake.recorder());
  }
  FakeEngine& engine() { return *fake.audio.engine; }

  // start, both permissions granted, beginRecognition done: the run is listening.
  void startListening(std::optional<std::string> locale = std::nullopt) {
    makeSession(std::move(locale));
    session->start();
    grantSpeech(SpeechAuthorizationStatus::authorized);
    grantMicrophone(true);
  }
  void grantSpeech(SpeechAuthorizationStatus status) {
    fake.speech.authorizationHandler(status);
    fake.loop.runPending();
  }
  void grantMicrophone(bool granted) {
    fake.audio.accessHandler(granted);
    fake.loop.runPending();
  }

  void report(const std::string& text, bool isFinal = false) {
    recognizer->task->handler(RecognitionResult{text, isFinal}, std::nullopt);
    fake.loop.runPending();
  }
  void reportError(const std::string& description) {
    recognizer->task->handler(std::nullopt, RecognitionError{description});
    fake.loop.runPending();
  }
  void reportBoth(const std::string& text, bool isFinal, const std::string& description) {
    recognizer->task->handler(RecognitionResult{text, isFinal}, RecognitionError{description});
    fake.loop.runPending();
  }

  std::vector<std::pair<std::string, std::string>> lines() const {
    std::vector<std::pair<std::string, std::string>> out;
    for (const auto& l : fake.lines) out.emplace_back(l.kind, l.text);
    return out;
  }
  using Lines = std::vector<std::pair<std::string, std::string>>;
  // The lines after "requesting local speech access" and "listening locally".
  Lines linesAfterStart() const {
    auto all = lines();
    EXPECT_GE(all.size(), 2u);
    return Lines(all.begin() + std::min<size_t>(2, all.size()), all.end());
  }
  // Whether the run has stopped listening: "finishing transcript" was written.
  bool stoppedInput() const {
    for (const auto& l : fake.lines) {
      if (l.kind == "status" && l.text == "finishing transcript") return true;
    }
    return false;
  }
  std::optional<int> exitStatus() const {
    if (fake.process.exits.empty()) return std::nullopt;
    EXPECT_EQ(fake.process.exits.size(), 1u) << "the process exited more than once";
    return fake.process.exits.front();
  }
};

}  // namespace mic::testing
