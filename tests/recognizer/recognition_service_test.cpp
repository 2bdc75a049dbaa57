#include "recognizer/recognition_service.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "fakes/fake_platform.h"
#include "recognizer/fake_decoder.h"
#include "recognizer/recognition_reports.h"
#include "recognizer/recognizer_threads_wait.h"
#include "session/speech_session.h"

namespace mic {
namespace {

using testing::DecoderRecord;
using testing::DecoderScript;
using testing::FakeBuffer;
using testing::kPatience;
using testing::kPatienceMs;
using testing::Reports;
using testing::waitForRecognizerThreads;

// A second of audio in `format`, as 1024-frame buffers.
std::vector<FakeBuffer> oneSecond(AudioFormat format) {
  std::vector<FakeBuffer> buffers;
  const auto frames = static_cast<size_t>(format.sampleRate);
  for (size_t at = 0; at < frames; at += 1024) {
    const size_t count = std::min<size_t>(1024, frames - at) * format.channelCount;
    buffers.emplace_back(format, std::vector<float>(count, 0.01f));
  }
  return buffers;
}

DecoderScript scripted(std::vector<std::pair<size_t, std::string>> hypotheses,
                       std::string finalText) {
  DecoderScript script;
  script.hypotheses = std::move(hypotheses);
  script.finalText = std::move(finalText);
  return script;
}

// A script whose step `step` fails with `reason`.
DecoderScript failing(Status DecoderScript::*step, std::string reason) {
  DecoderScript script;
  script.*step = Status::failure(std::move(reason));
  return script;
}

DecoderScript failingFeed(size_t after, std::string reason) {
  DecoderScript script;
  script.failFeedAfter = after;
  script.feedFailure = std::move(reason);
  return script;
}

class Recognition : public ::testing::Test {
 protected:
  void TearDown() override {
    // The recognizer's threads are detached; let them finish before the next test.
    EXPECT_TRUE(waitForRecognizerThreads(kPatienceMs));
  }

  void useEngine(DecoderScript script) {
    service_ = makeRecognitionService(
        testing::fakeLocator(std::make_shared<const DecoderScript>(std::move(script)), record_));
  }

  std::shared_ptr<DecoderRecord> record_ = std::make_shared<DecoderRecord>();
  std::unique_ptr<SpeechRecognitionService> service_;
};

TEST_F(Recognition, AuthorizationIsGrantedFromAnotherThread) {
  useEngine({});
  std::mutex mutex;
  std::condition_variable answered;
  std::optional<SpeechAuthorizationStatus> status;
  std::thread::id answeredOn;
  service_->requestAuthorization([&](SpeechAuthorizationStatus s) {
    std::lock_guard lock(mutex);
    status = s;
    answeredOn = std::this_thread::get_id();
    answered.notify_all();
  });
  std::unique_lock lock(mutex);
  ASSERT_TRUE(answered.wait_for(lock, kPatience, [&] { return status.has_value(); }));
  EXPECT_EQ(*status, SpeechAuthorizationStatus::authorized);
  EXPECT_NE(answeredOn, std::this_thread::get_id());
}

// Each change of the hypothesis is one partial, shrinking and rewriting included, and no partial
// repeats the one before; the final comes last. All of it from the worker's thread.
TEST_F(Recognition, EveryChangeIsAPartialFromTheWorkerThenTheFinal) {
  struct Case {
    bool reportPartials;
    std::vector<std::string> partials;
  };
  for (const Case& c :
       {Case{true, {"call", "call my", "hall", "call my brother"}}, Case{false, {}}}) {
    useEngine(scripted({{1024, "call"},
                        {2048, "call"},
                        {4096, "call my"},
                        {6144, "hall"},
                        {8192, "call my brother"}},
                       "call my brother"));
    Reports reports;
    auto recognizer = service_->makeRecognizer({"en-US"});
    ASSERT_TRUE(recognizer);
    EXPECT_TRUE(recognizer->supportsOnDeviceRecognition());
    auto request = service_->makeRequest();
    request->setShouldReportPartialResults(c.reportPartials);
    for (const auto& buffer : oneSecond({16000, 1})) request->append(buffer);
    auto task = recognizer->recognitionTask(request, reports.handler());
    request->endAudio();
    ASSERT_TRUE(reports.waitForEnd());
    EXPECT_EQ(reports.partials(), c.partials) << c.reportPartials;
    EXPECT_EQ(reports.final(), "call my brother");
    EXPECT_EQ(reports.error(), std::nullopt);
    EXPECT_EQ(reports.count(), static_cast<int>(c.partials.size()) + 1);
    EXPECT_EQ(reports.onCallerThread(), 0);
    ASSERT_TRUE(waitForRecognizerThreads(kPatienceMs));
  }
}

// A new device mid-run: what the old resampler still held is fed before the new format's audio.
TEST_F(Recognition, AChangeOfFormatLosesNoAudio) {
  useEngine(scripted({}, "done"));
  Reports reports;
  auto recognizer = service_->makeRecognizer({"en-US"});
  auto request = service_->makeRequest();
  for (const auto& buffer : oneSecond({48000, 2})) request->append(buffer);
  for (const auto& buffer : oneSecond({16000, 1})) request->append(buffer);
  for (const auto& buffer : oneSecond({44100, 1})) request->append(buffer);
  auto task = recognizer->recognitionTask(request, reports.handler());
  request->endAudio();
  ASSERT_TRUE(reports.waitForEnd());
  EXPECT_EQ(reports.final(), "done");
  // Three seconds at 16 kHz, give or take the filters' rounding.
  EXPECT_NEAR(static_cast<double>(record_->fed.load()), 3 * 16000, 16);
}

// Whatever fails, the task's one report is an error with the reason, and a damaged model is never
// loaded.
TEST_F(Recognition, EachFailureIsTheTasksOneReport) {
  struct Case {
    DecoderScript script;
    std::string error;
    int loads;
  };
  const Case cases[] = {
      // A search that failed is not a language without a model.
      {failing(&DecoderScript::locate, "Cannot allocate memory"),
       "speech model could not be found: Cannot allocate memory", 0},
      {failing(&DecoderScript::check, "/m/en-us/mdef: cut short"),
       "speech model is damaged: /m/en-us/mdef: cut short", 0},
      {failing(&DecoderScript::load, "speech model could not be loaded: bad lm"),
       "speech model could not be loaded: bad lm", 1},
      {failing(&DecoderScript::start, "could not start"), "could not start", 1},
      {failingFeed(4096, "could not process audio"), "could not process audio", 1},
      {failing(&DecoderScript::finish, "could not finish"), "could not finish", 1},
  };
  for (const Case& c : cases) {
    record_ = std::make_shared<DecoderRecord>();
    useEngine(c.script);
    Reports reports;
    auto recognizer = service_->makeRecognizer({"en-US"});
    ASSERT_TRUE(recognizer) << c.error;
    auto request = service_->makeRequest();
    request->setShouldReportPartialResults(true);
    for (const auto& buffer : oneSecond({16000, 1})) request->append(buffer);
    auto task = recognizer->recognitionTask(request, reports.handler());
    request->endAudio();
    ASSERT_TRUE(reports.waitForEnd()) << c.error;
    EXPECT_EQ(reports.error(), c.error);
    EXPECT_EQ(reports.final(), std::nullopt) << c.error;
    EXPECT_EQ(reports.count(), 1) << c.error;
    EXPECT_EQ(reports.onCallerThread(), 0) << c.error;
    ASSERT_TRUE(waitForRecognizerThreads(kPatienceMs));
    EXPECT_EQ(record_->loads.load(), c.loads) << c.error;
  }
}

// The model loading since makeRecognizer goes to the first task only; a second task of the same
// recognizer loads its own instead of finding it taken.
TEST_F(Recognition, EachTaskGetsADecoderOfItsOwn) {
  useEngine(scripted({}, "again"));
  auto recognizer = service_->makeRecognizer({"en-US"});
  for (int round = 0; round < 2; ++round) {
    Reports reports;
    auto request = service_->makeRequest();
    auto task = recognizer->recognitionTask(request, reports.handler());
    request->endAudio();
    ASSERT_TRUE(reports.waitForEnd());
    EXPECT_EQ(reports.final(), "again") << reports.error().value_or("");
  }
  EXPECT_EQ(record_->loads.load(), 2);
}

TEST_F(Recognition, CancelStopsTheWorkerWithoutAFinal) {
  useEngine(scripted({{1, "call"}}, "call"));
  Reports reports;
  auto recognizer = service_->makeRecognizer({"en-US"});
  auto request = service_->makeRequest();
  request->setShouldReportPartialResults(true);
  for (const auto& buffer : oneSecond({16000, 1})) request->append(buffer);
  auto task = recognizer->recognitionTask(request, reports.handler());
  task->cancel();
  request->endAudio();  // would produce a final if the worker still ran
  // The worker ends by itself, and reports nothing more after that.
  ASSERT_TRUE(waitForRecognizerThreads(kPatienceMs));
  const int reportsAfterCancel = reports.count();
  EXPECT_EQ(reports.final(), std::nullopt);
  task.reset();
  request.reset();
  EXPECT_EQ(reports.count(), reportsAfterCancel);
}

TEST_F(Recognition, ReleasingEverythingMidStreamIsSafe) {
  useEngine(scripted({{1, "call"}}, "call"));
  Reports reports;
  {
    auto recognizer = service_->makeRecognizer({"en-US"});
    auto request = service_->makeRequest();
    auto task = recognizer->recognitionTask(request, reports.handler());
    for (const auto& buffer : oneSecond({44100, 1})) request->append(buffer);
  }
  // The task was released without cancel or endAudio: its worker still ends.
  EXPECT_TRUE(waitForRecognizerThreads(kPatienceMs));
  EXPECT_EQ(reports.final(), std::nullopt);
}

// A segment end that holds the worker (1.5 s of it) while the speaker talks on: the recognizer is
// behind the microphone, which is no pause of the speaker, so listening goes on; once it has caught
// up, a real pause still ends the run, and the final has every word.
TEST_F(Recognition, ABusyRecognizerDoesNotCutTheSpeakerOff) {
  constexpr size_t kTenth = 1600;  // 0.1 s at 16 kHz
  DecoderScript script = scripted({{kTenth, "one"}, {10 * kTenth, "one two"}}, "one two three");
  script.holdAt = 2 * kTenth;
  useEngine(std::move(script));
  testing::FakePlatform fake;
  fake.locales.currentIdentifier = "en-US";
  Platform platform{*service_, fake.audio, fake.loop, fake.loop, fake.locales, fake.process};
  auto session = std::make_shared<SpeechSession>(std::nullopt, platform, fake.recorder());
  fake.audio.engine->node.format = {16000, 1};
  session->beginRecognition();
  const FakeBuffer tenth({16000, 1}, std::vector<float>(kTenth, 0.01f));
  const auto said = [&](double seconds) {
    for (int i = 0; i < static_cast<int>(seconds * 10 + 0.5); ++i) {
      ASSERT_TRUE(fake.audio.engine->node.deliver(tenth));
      fake.loop.advance(0.1);
    }
  };
  using Line = std::pair<std::string, std::string>;
  const auto lines = [&] {
    std::vector<Line> out;
    for (const auto& line : fake.lines) out.emplace_back(line.kind, line.text);
    return out;
  };
  const auto stopped = [&] {
    return std::ranges::count(lines(), Line{"status", "finishing transcript"}) > 0;
  };

  ASSERT_TRUE(fake.audio.engine->node.deliver(tenth));
  ASSERT_TRUE(fake.audio.engine->node.deliver(tenth));
  ASSERT_TRUE(record_->waitFor(2 * kTenth, true, kPatienceMs));  // "one" is out; the end begins
  fake.loop.runPending();
  said(1.6);  // at the clock's 1.6 s, "one" is 1.6 s old
  EXPECT_FALSE(stopped());

  record_->release();
  ASSERT_TRUE(record_->waitFor(18 * kTenth, false, kPatienceMs));
  fake.loop.advance(2.0);  // silence: no audio, nothing behind
  EXPECT_TRUE(stopped());
  ASSERT_TRUE(waitForRecognizerThreads(kPatienceMs));
  fake.loop.runPending();
  EXPECT_EQ(lines(), (std::vector<Line>{{"status", "listening locally"},
                                        {"partial", "one"},
                                        {"partial", "one two"},
                                        {"status", "finishing transcript"},
                                        {"partial", "one two three"},
                                        {"final", "one two three"}}));
  EXPECT_EQ(fake.process.exits, std::vector<int>{0});
}

}  // namespace
}  // namespace mic
