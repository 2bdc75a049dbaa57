#include "linux/pocketsphinx/pocketsphinx_wer.h"

#include <gtest/gtest.h>

namespace mic::testing {
namespace {

TEST(WordErrorRate, CountsSubstitutionsDeletionsAndInsertions) {
  EXPECT_EQ(wordErrors("turn on the light", "turn on the light"), 0u);
  EXPECT_EQ(wordErrors("turn on the light", "turn on the line"), 1u);
  EXPECT_EQ(wordErrors("turn on the light", "turn the light"), 1u);
  EXPECT_EQ(wordErrors("turn on the light", "please turn on the light now"), 2u);
  EXPECT_EQ(wordErrors("turn on the light", ""), 4u);
  EXPECT_EQ(wordErrors("a b c d", "b c d e"), 2u);
  EXPECT_DOUBLE_EQ(wordErrorRate("turn on the kitchen light", "turn on the kitchen line"), 0.2);
}

TEST(WordErrorRate, IgnoresCaseAndPunctuationButNotApostrophes) {
  EXPECT_EQ(wordErrors("Seven O'Clock, tonight.", "seven o'clock tonight"), 0u);
  EXPECT_EQ(wordErrors("it's here", "its here"), 1u);
}

TEST(WordErrorRate, AnEmptyReferenceCountsEveryExtraWord) {
  EXPECT_DOUBLE_EQ(wordErrorRate("", ""), 0.0);
  EXPECT_DOUBLE_EQ(wordErrorRate("", "uh huh"), 2.0);
}

}  // namespace
}  // namespace mic::testing
