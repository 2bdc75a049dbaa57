#include "platform/linux/pocketsphinx_utterance.h"

#include <gtest/gtest.h>

#include "linux/pocketsphinx_speech.h"
#include "linux/pocketsphinx_wer.h"
#include "platform/linux/model_locator.h"

namespace mic {
namespace {

class PocketSphinxUtteranceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!testing::hasSpeechModel()) GTEST_SKIP() << "no pocketsphinx model (pocketsphinx-en-us)";
    auto model = locateModel(testing::speechModelRoot(), "en-US");
    ASSERT_TRUE(model);
    auto loaded = PocketSphinxDecoder::load(*model);
    ASSERT_EQ(loaded.index(), 0u) << std::get<1>(loaded);
    decoder_ = std::move(std::get<0>(loaded));
  }

  static std::vector<int16_t> as16Bit(const std::vector<float>& samples) {
    std::vector<int16_t> out;
    for (float s : samples) out.push_back(static_cast<int16_t>(s * 32767.0f));
    return out;
  }

  // Feeds in 1024-sample pieces and finishes; returns the final hypothesis.
  std::string decode(PocketSphinxUtterance& utterance, const std::vector<int16_t>& audio) {
    EXPECT_EQ(utterance.start(), "");
    for (size_t i = 0; i < audio.size(); i += 1024) {
      EXPECT_EQ(
          utterance.feed(std::span(audio).subspan(i, std::min<size_t>(1024, audio.size() - i))),
          "");
    }
    EXPECT_EQ(utterance.finish(), "");
    return utterance.hypothesis();
  }

  std::unique_ptr<PocketSphinxDecoder> decoder_;
};

TEST_F(PocketSphinxUtteranceTest, DecodesAgainOnceAfterTheFirstWordsThenKeepsStreaming) {
  if (!testing::hasFlite()) GTEST_SKIP() << "flite is not installed (Debian package flite)";
  const std::string sentence = "remember to buy milk bread and eggs on the way home from work";
  const auto speech = testing::fliteSpeech(sentence);
  ASSERT_TRUE(speech);
  const auto audio = as16Bit(*speech);

  PocketSphinxUtterance warm(*decoder_, WarmUpPolicy{});
  const auto text = decode(warm, audio);
  EXPECT_EQ(warm.redecodes(), 1);
  EXPECT_LE(testing::wordErrorRate(sentence, text), 0.25) << text;

  // The same decoder serves a second utterance, which is decoded again too.
  PocketSphinxUtterance again(*decoder_, WarmUpPolicy{});
  decode(again, audio);
  EXPECT_EQ(again.redecodes(), 1);

  PocketSphinxUtterance cold(*decoder_, WarmUpPolicy{-1, false});
  decode(cold, audio);
  EXPECT_EQ(cold.redecodes(), 0);

  PocketSphinxUtterance twice(*decoder_, WarmUpPolicy{-1, true});
  EXPECT_LE(testing::wordErrorRate(sentence, decode(twice, audio)), 0.25);
  EXPECT_EQ(twice.redecodes(), 1);
}

TEST_F(PocketSphinxUtteranceTest, SilenceNeverTriggersTheSecondDecode) {
  PocketSphinxUtterance utterance(*decoder_, WarmUpPolicy{0.5, false});
  const std::vector<int16_t> silence(16000 * 3, 0);
  EXPECT_EQ(decode(utterance, silence), "");
  EXPECT_EQ(utterance.redecodes(), 0);
}

}  // namespace
}  // namespace mic
