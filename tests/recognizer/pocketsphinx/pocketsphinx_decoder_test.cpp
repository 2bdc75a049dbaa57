#include "recognizer/pocketsphinx/pocketsphinx_decoder.h"

#include <gtest/gtest.h>

#include <cmath>

#include "recognizer/pocketsphinx/model_locator.h"
#include "recognizer/pocketsphinx/pocketsphinx_speech.h"
#include "recognizer/pocketsphinx/pocketsphinx_wer.h"

namespace mic {
namespace {

// Counts the pauses that finish a segment: the voice activity detector turning false after it
// heard speech.
class Pauses {
 public:
  void after(const Decoder& decoder) {
    heard_ = heard_ || decoder.inSpeech();
    if (heard_ && !decoder.inSpeech()) {
      ++count_;
      heard_ = false;
    }
  }
  int count() const { return count_; }

 private:
  bool heard_ = false;
  int count_ = 0;
};

class PocketSphinxDecoderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!testing::hasSpeechModel()) GTEST_SKIP() << "no pocketsphinx model (pocketsphinx-en-us)";
    auto model = locateModel(testing::speechModelRoot(), "en-US");
    ASSERT_TRUE(model);
    auto loaded = PocketSphinxHandle::load(*model);
    ASSERT_TRUE(loaded.ok()) << loaded.status().message();
    handle_ = std::move(loaded).value();
  }

  // Feeds in 1024-sample pieces and finishes; returns the final hypothesis.
  std::string decode(PocketSphinxDecoder& decoder, const std::vector<int16_t>& audio) {
    EXPECT_TRUE(decoder.start().ok());
    for (size_t i = 0; i < audio.size(); i += 1024) {
      const auto status =
          decoder.feed(std::span(audio).subspan(i, std::min<size_t>(1024, audio.size() - i)));
      EXPECT_TRUE(status.ok()) << status.message();
      pauses_.after(decoder);
    }
    EXPECT_TRUE(decoder.finish().ok());
    return decoder.hypothesis();
  }

  std::unique_ptr<PocketSphinxHandle> handle_;
  Pauses pauses_;
};

// Speech scaled to the given level in decibels, as 16-bit samples.
std::vector<int16_t> fliteAt(const std::string& sentence, double decibels) {
  auto speech = testing::fliteSpeech(sentence);
  if (!speech) return {};
  const float gain = static_cast<float>(std::pow(10.0, decibels / 20));
  std::vector<int16_t> out;
  for (float s : *speech) out.push_back(static_cast<int16_t>(s * gain * 32767.0f));
  return out;
}

std::vector<int16_t> silence(double seconds) {
  return std::vector<int16_t>(static_cast<size_t>(seconds * 16000), 0);
}

TEST_F(PocketSphinxDecoderTest, APauseFinishesTheSegmentWithoutChangingTheShownText) {
  if (!testing::hasFlite()) GTEST_SKIP() << "flite is not installed (Debian package flite)";
  const std::string first = "please turn on the kitchen lights";
  const std::string second = "and close the garage door";
  const auto one = fliteAt(first, 0);
  const auto two = fliteAt(second, 0);
  ASSERT_FALSE(one.empty());
  ASSERT_FALSE(two.empty());

  // Still ours to look at: a finished segment leaves the handle on a new, silent segment.
  PocketSphinxHandle& handle = *handle_;
  PocketSphinxDecoder decoder(std::move(handle_), WarmUpPolicy{});
  ASSERT_TRUE(decoder.start().ok());
  Pauses pauses;
  auto feedAll = [&](const std::vector<int16_t>& audio, auto&& afterEach) {
    for (size_t i = 0; i < audio.size(); i += 341) {
      ASSERT_TRUE(
          decoder.feed(std::span(audio).subspan(i, std::min<size_t>(341, audio.size() - i))).ok());
      pauses.after(decoder);
      afterEach();
    }
  };
  feedAll(one, [] {});
  // The pause: once the segment is finished, the text must not move until new words come, or the
  // caller would take the pause for speech.
  std::string shownAtEnd;
  int changesAfterEnd = 0;
  feedAll(silence(1.4), [&] {
    if (pauses.count() == 0) return;
    if (shownAtEnd.empty()) shownAtEnd = decoder.hypothesis();
    if (decoder.hypothesis() != shownAtEnd) ++changesAfterEnd;
  });
  EXPECT_EQ(pauses.count(), 1) << "no segment finished during 1.4 s of silence";
  EXPECT_EQ(handle.hypothesis(), "") << "the pause did not finish the segment";
  EXPECT_EQ(changesAfterEnd, 0);
  EXPECT_LE(testing::wordErrorRate(first, decoder.hypothesis()), 0.2) << decoder.hypothesis();

  feedAll(two, [] {});
  feedAll(silence(1.4), [] {});
  EXPECT_EQ(pauses.count(), 2);
  EXPECT_EQ(handle.hypothesis(), "");
  ASSERT_TRUE(decoder.finish().ok());
  // The final holds every segment, in order.
  EXPECT_LE(testing::wordErrorRate(first + " " + second, decoder.hypothesis()), 0.2)
      << decoder.hypothesis();
}

TEST_F(PocketSphinxDecoderTest, SpeechWithoutAPauseIsOneSegmentFinishedAtTheEnd) {
  if (!testing::hasFlite()) GTEST_SKIP() << "flite is not installed (Debian package flite)";
  const std::string sentence = "remember to buy milk bread and eggs on the way home from work";
  PocketSphinxDecoder decoder(std::move(handle_), WarmUpPolicy{});
  const auto text = decode(decoder, fliteAt(sentence, 0));
  EXPECT_EQ(pauses_.count(), 0);
  EXPECT_LE(testing::wordErrorRate(sentence, text), 0.25) << text;
}

TEST_F(PocketSphinxDecoderTest, TheMeanFollowsAQuietSpeakerFromTheFirstWords) {
  if (!testing::hasFlite()) GTEST_SKIP() << "flite is not installed (Debian package flite)";
  // Far below the level the model's default mean fits: with that mean the whole sentence is
  // decoded poorly, which is what following the speaker is for.
  const std::string sentence = "the meeting has been moved to three o'clock on thursday afternoon";
  const auto quiet = fliteAt(sentence, -30);
  ASSERT_FALSE(quiet.empty());

  PocketSphinxDecoder following(std::move(handle_), WarmUpPolicy{});
  const double followingError = testing::wordErrorRate(sentence, decode(following, quiet));
  EXPECT_LE(followingError, 0.25) << following.hypothesis();

  auto fresh = PocketSphinxHandle::load(*locateModel(testing::speechModelRoot(), "en-US"));
  ASSERT_TRUE(fresh.ok());
  PocketSphinxDecoder fixed(std::move(fresh).value(), WarmUpPolicy{.defaultMeanWeightFrames = -1});
  const double fixedError = testing::wordErrorRate(sentence, decode(fixed, quiet));
  EXPECT_GT(fixedError, followingError + 0.2)
      << "the input no longer shows the cold start: " << fixed.hypothesis();
}

TEST_F(PocketSphinxDecoderTest, SilenceNeverFinishesASegment) {
  PocketSphinxDecoder decoder(std::move(handle_), WarmUpPolicy{});
  EXPECT_EQ(decode(decoder, silence(3)), "");
  EXPECT_EQ(pauses_.count(), 0);
}

}  // namespace
}  // namespace mic
