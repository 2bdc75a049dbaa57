#include "app/entry.h"

#include <gtest/gtest.h>

#include "fakes/fake_platform.h"

namespace mic::testing {
namespace {

// runEntry's loop is the fake one, which returns once the posted work is done.
struct EntryRun {
  FakePlatform fake;
  explicit EntryRun(std::vector<const char*> argv) {
    fake.speech.recognizers["en_US"] = std::make_shared<FakeRecognizer>();
    fake.speech.recognizers["de-DE"] = std::make_shared<FakeRecognizer>();
    fake.speech.recognizers["--verbose"] = std::make_shared<FakeRecognizer>();
    runEntry(static_cast<int>(argv.size()), argv.data(), fake.platform(), fake.recorder());
    fake.speech.authorizationHandler(SpeechAuthorizationStatus::authorized);
    fake.loop.runPending();
    fake.audio.accessHandler(true);
    fake.loop.runPending();
  }
};

TEST(Entry, NoArgumentUsesTheCurrentLocale) {
  EntryRun run({"mic-transcriber"});
  // Still listening: no ending has exited.
  EXPECT_EQ(run.fake.process.exits, std::vector<int>{});
  EXPECT_EQ(arguments, (std::vector<std::string>{"mic-transcriber"}));
  ASSERT_FALSE(run.fake.lines.empty());
  EXPECT_EQ(run.fake.lines[0].text, "requesting local speech access");
  EXPECT_EQ(run.fake.speech.requestedLocales, std::vector<std::string>{"en_US"});
  ASSERT_TRUE(session);
  EXPECT_EQ(run.fake.lines.back().text, "listening locally");
}

TEST(Entry, OnlyTheFirstArgumentCounts) {
  EntryRun run({"mic-transcriber", "de-DE", "fr-FR", "--x"});
  EXPECT_EQ(run.fake.speech.requestedLocales, std::vector<std::string>{"de-DE"});
}

TEST(Entry, OptionLookingArgumentIsALocale) {
  EntryRun run({"mic-transcriber", "--verbose"});
  EXPECT_EQ(run.fake.speech.requestedLocales, std::vector<std::string>{"--verbose"});
  EntryRun help({"mic-transcriber", "--help"});
  EXPECT_EQ(help.fake.lines.back().text, "speech recognition is unavailable for this language");
  EXPECT_EQ(help.fake.process.exits, std::vector<int>{1});
}

}  // namespace
}  // namespace mic::testing
