// The Speech framework's recognizer on a Mac, as far as it goes without a person to grant
// permission: what needs no authorization.
#include "platform/apple/apple_speech_recognition.h"

#include <gtest/gtest.h>

#include <optional>

#include "fakes/fake_platform.h"

namespace mic::testing {
namespace {

TEST(AppleSpeechRecognitionTest, NoRecognizerForALanguageThatDoesNotExist) {
  auto speech = makeAppleSpeechRecognitionService();
  EXPECT_EQ(speech->makeRecognizer(Locale{"zz_ZZ"}), nullptr);
  EXPECT_EQ(speech->makeRecognizer(Locale{"en\xff"}), nullptr);  // not even UTF-8
}

// A request the framework cannot take ends in an error report, not in a crash or a silent task.
TEST(AppleSpeechRecognitionTest, ForeignRequestIsReportedAsAnError) {
  auto speech = makeAppleSpeechRecognitionService();
  auto recognizer = speech->makeRecognizer(Locale{"en-US"});
  if (!recognizer) GTEST_SKIP() << "no English (US) speech recognizer on this Mac";
  auto foreign = std::make_shared<FakeRequest>();
  std::optional<RecognitionError> reported;
  int reports = 0;
  auto task = recognizer->recognitionTask(
      foreign, [&](std::optional<RecognitionResult> result, std::optional<RecognitionError> error) {
        ++reports;
        EXPECT_FALSE(result.has_value());
        reported = error;
      });
  ASSERT_NE(task, nullptr);
  task->cancel();
  EXPECT_EQ(reports, 1);
  ASSERT_TRUE(reported.has_value());
  EXPECT_FALSE(reported->localizedDescription.empty());
}

}  // namespace
}  // namespace mic::testing
