#include "recognizer/pocketsphinx/pocketsphinx_engine.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include "recognizer/pocketsphinx/pocketsphinx_speech.h"
#include "recognizer/pocketsphinx/pocketsphinx_wer.h"
#include "recognizer/recognition_reports.h"
#include "recognizer/recognizer_threads_wait.h"

namespace mic {
namespace {

using testing::as48kStereo;
using testing::asBuffers;
using testing::fliteSpeech;
using testing::kPatienceMs;
using testing::Reports;
using testing::waitForRecognizerThreads;
using testing::wordErrorRate;

const char* kSentence = "please call my brother tomorrow morning";

class PocketSphinxRecognition : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!testing::hasSpeechModel()) {
      GTEST_SKIP() << "no pocketsphinx model under " << testing::speechModelRoot()
                   << " (Debian package pocketsphinx-en-us)";
    }
    service_ = makePocketSphinxService(testing::speechModelRoot());
  }
  void TearDown() override {
    // The recognizer's threads are detached; let them finish before the next test.
    EXPECT_TRUE(waitForRecognizerThreads(kPatienceMs));
  }

  std::vector<float> speech(const std::string& text) {
    auto samples = fliteSpeech(text);
    return samples ? *samples : std::vector<float>{};
  }

  // Recognizes `samples` in `format`, appending all of it before the task starts (the model is
  // still loading then), and returns the reports.
  void recognize(const std::vector<float>& samples, AudioFormat format, Reports& reports) {
    auto recognizer = service_->makeRecognizer({"en_US.UTF-8"});
    ASSERT_TRUE(recognizer);
    auto request = service_->makeRequest();
    request->setRequiresOnDeviceRecognition(true);
    request->setShouldReportPartialResults(true);
    for (const auto& buffer : asBuffers(samples, format)) request->append(*buffer);
    auto task = recognizer->recognitionTask(request, reports.handler());
    request->endAudio();
    ASSERT_TRUE(reports.waitForEnd());
  }

  std::unique_ptr<SpeechRecognitionService> service_;
};

#define REQUIRE_FLITE() \
  if (!testing::hasFlite()) GTEST_SKIP() << "flite is not installed (Debian package flite)"

TEST_F(PocketSphinxRecognition, RecognizersExistOnlyForInstalledModelsAndStayOnDevice) {
  for (const char* identifier : {"en-US", "en_US.UTF-8", "C", "", "en"}) {
    auto recognizer = service_->makeRecognizer({identifier});
    ASSERT_TRUE(recognizer) << identifier;
    EXPECT_TRUE(recognizer->supportsOnDeviceRecognition());
  }
  for (const char* identifier : {"xx-YY", "fr_FR.UTF-8", "../en-us", "en-us/en-us"}) {
    EXPECT_EQ(service_->makeRecognizer({identifier}), nullptr) << identifier;
  }
}

TEST_F(PocketSphinxRecognition, SpeechAt16kMonoIsRecognizedWithPartialsThenAFinal) {
  REQUIRE_FLITE();
  const auto samples = speech(kSentence);
  ASSERT_FALSE(samples.empty());
  Reports reports;
  recognize(samples, {16000, 1}, reports);
  ASSERT_EQ(reports.error(), std::nullopt);
  ASSERT_TRUE(reports.final());
  EXPECT_LE(wordErrorRate(kSentence, *reports.final()), 0.34) << *reports.final();
  EXPECT_FALSE(reports.partials().empty());
  EXPECT_EQ(reports.onCallerThread(), 0);
}

TEST_F(PocketSphinxRecognition, SpeechAt48kStereoIsRecognizedLikeAt16k) {
  REQUIRE_FLITE();
  const auto samples = speech(kSentence);
  ASSERT_FALSE(samples.empty());
  Reports reports;
  recognize(as48kStereo(samples), {48000, 2}, reports);
  ASSERT_EQ(reports.error(), std::nullopt);
  ASSERT_TRUE(reports.final());
  EXPECT_LE(wordErrorRate(kSentence, *reports.final()), 0.34) << *reports.final();
  EXPECT_FALSE(reports.partials().empty());
}

TEST_F(PocketSphinxRecognition, AudioAppendedWhileTheModelLoadsIsAllRecognized) {
  REQUIRE_FLITE();
  // Two sentences; the first is all appended, and endAudio called, before the model can be ready.
  const std::string first = "turn on the kitchen light";
  const std::string second = "the weather is nice today";
  auto samples = speech(first);
  const auto pause = std::vector<float>(16000 / 2, 0.0f);
  samples.insert(samples.end(), pause.begin(), pause.end());
  const auto more = speech(second);
  samples.insert(samples.end(), more.begin(), more.end());
  ASSERT_GT(samples.size(), size_t{3 * 16000});

  Reports reports;
  auto recognizer = service_->makeRecognizer({"en-US"});
  ASSERT_TRUE(recognizer);
  auto request = service_->makeRequest();
  request->setShouldReportPartialResults(true);
  auto task = recognizer->recognitionTask(request, reports.handler());
  // Appending seconds of audio returns before the decoder has reported anything: append only
  // queues, it never waits for the model or the decoder.
  for (const auto& buffer : asBuffers(samples, {16000, 1})) request->append(*buffer);
  EXPECT_EQ(reports.count(), 0);
  request->endAudio();
  ASSERT_TRUE(reports.waitForEnd());
  ASSERT_TRUE(reports.final());
  EXPECT_LE(wordErrorRate(first + " " + second, *reports.final()), 0.3) << *reports.final();
}

TEST_F(PocketSphinxRecognition, SilenceGivesAnEmptyFinal) {
  std::vector<float> silence(16000 * 2, 0.0f);
  for (size_t i = 0; i < silence.size(); ++i) silence[i] = (i % 7 == 0) ? 0.0005f : -0.0002f;
  Reports reports;
  recognize(silence, {48000, 1}, reports);
  ASSERT_EQ(reports.error(), std::nullopt);
  ASSERT_TRUE(reports.final());
  EXPECT_EQ(*reports.final(), "");
}

// A model "xx-yy" in a new temporary root: the installed en-us model's files, except that the
// file named `ownFile` ("xx-yy.lm.bin" or "cmudict-xx-yy.dict") holds `content`.
std::filesystem::path modelWithOwnFile(const std::string& ownFile, const std::string& content) {
  namespace fs = std::filesystem;
  char dir[] = "/tmp/mic-model-XXXXXX";
  EXPECT_NE(mkdtemp(dir), nullptr);
  const fs::path root = dir;
  const fs::path installed = fs::path(testing::speechModelRoot()) / "en-us";
  fs::create_directories(root / "xx-yy");
  fs::create_directory_symlink(installed / "en-us", root / "xx-yy" / "xx-yy");
  for (const auto& [ours, theirs] :
       {std::pair<std::string, std::string>{"xx-yy.lm.bin", "en-us.lm.bin"},
        {"cmudict-xx-yy.dict", "cmudict-en-us.dict"}}) {
    if (ours == ownFile) {
      std::ofstream(root / "xx-yy" / ours) << content;
    } else {
      fs::create_symlink(installed / theirs, root / "xx-yy" / ours);
    }
  }
  return root;
}

// The one report of a task of the model "xx-yy" under `root`, which is removed afterwards.
std::optional<std::string> errorOfTaskUnder(const std::filesystem::path& root) {
  auto service = makePocketSphinxService(root.string());
  auto recognizer = service->makeRecognizer({"xx_YY"});
  EXPECT_TRUE(recognizer);
  if (!recognizer) return std::nullopt;
  Reports reports;
  auto task = recognizer->recognitionTask(service->makeRequest(), reports.handler());
  EXPECT_TRUE(reports.waitForEnd());
  std::filesystem::remove_all(root);
  return reports.error();
}

TEST_F(PocketSphinxRecognition, AnUnloadableModelIsReportedAsAnError) {
  // A model that passes every file check but whose language model is not one.
  const auto error = errorOfTaskUnder(modelWithOwnFile("xx-yy.lm.bin", "not a language model"));
  ASSERT_TRUE(error);
  EXPECT_NE(error->find("speech model could not be loaded"), std::string::npos) << *error;
  EXPECT_NE(error->find("lm.bin"), std::string::npos) << *error;
}

TEST_F(PocketSphinxRecognition, ADamagedModelIsTheTasksErrorNamingTheFile) {
  // The language is installed, so it has a recognizer; the library never sees the damaged file.
  const auto root = modelWithOwnFile("cmudict-xx-yy.dict", "hello HH AH L OW\nwor");
  const std::string dictionary = (root / "xx-yy" / "cmudict-xx-yy.dict").string();
  const auto error = errorOfTaskUnder(root);
  ASSERT_TRUE(error);
  EXPECT_EQ(*error, "speech model is damaged: " + dictionary + ": cut short in a line");
}

// Everything the library says goes to our capture, not to the terminal.
TEST(PocketSphinxStderr, AWholeRecognitionWritesNothingToStandardError) {
  if (!testing::hasSpeechModel()) GTEST_SKIP() << "no pocketsphinx model (pocketsphinx-en-us)";
  REQUIRE_FLITE();
  const auto samples = fliteSpeech(kSentence);
  ASSERT_TRUE(samples);

  int pipeFds[2];
  ASSERT_EQ(pipe(pipeFds), 0);
  // Non-blocking both ways: a chatty library must not hang the test, and the read must not wait.
  fcntl(pipeFds[0], F_SETFL, O_NONBLOCK);
  fcntl(pipeFds[1], F_SETFL, O_NONBLOCK);
  const int savedStderr = dup(2);
  dup2(pipeFds[1], 2);

  std::optional<std::string> final;
  std::optional<std::string> error;
  {
    auto service = makePocketSphinxService(testing::speechModelRoot());
    auto recognizer = service->makeRecognizer({"en_US.UTF-8"});
    auto request = service->makeRequest();
    request->setShouldReportPartialResults(true);
    Reports reports;
    for (const auto& buffer : asBuffers(as48kStereo(*samples), {48000, 2}))
      request->append(*buffer);
    auto task = recognizer->recognitionTask(request, reports.handler());
    request->endAudio();
    reports.waitForEnd();
    final = reports.final();
    error = reports.error();
    task->cancel();
  }
  waitForRecognizerThreads(kPatienceMs);

  dup2(savedStderr, 2);
  close(savedStderr);
  close(pipeFds[1]);
  char bytes[4096];
  const ssize_t got = read(pipeFds[0], bytes, sizeof bytes);
  close(pipeFds[0]);
  EXPECT_LE(got, 0) << std::string(bytes, static_cast<size_t>(std::max<ssize_t>(got, 0)));
  EXPECT_TRUE(final) << error.value_or("");
}

}  // namespace
}  // namespace mic
