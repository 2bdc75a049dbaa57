#include "session/transcript_text.h"

#include <gtest/gtest.h>

namespace mic {
namespace {

TEST(Trimmed, RemovesExactlyTheWhiteSpaceSet) {
  EXPECT_EQ(trimmed("  word \n"), "word");
  EXPECT_EQ(trimmed("\t\n\v\f\r word \xC2\x85"), "word");
  EXPECT_EQ(trimmed("\xC2\xA0word\xC2\xA0"), "word");          // U+00A0 (Zs)
  EXPECT_EQ(trimmed("\xE3\x80\x80word\xE2\x80\x83"), "word");  // U+3000, U+2003
  EXPECT_EQ(trimmed("\xE2\x80\xA8word\xE2\x80\xA9"), "word");  // U+2028 Zl, U+2029 Zp
  EXPECT_EQ(trimmed("a\xC2\xA0 b"), "a\xC2\xA0 b");            // inner kept
  EXPECT_EQ(trimmed(""), "");
  EXPECT_EQ(trimmed(" \t\n "), "");
}

TEST(Trimmed, KeepsCharactersOutsideTheSet) {
  EXPECT_EQ(trimmed("\xE2\x80\x8Bword\xE2\x80\x8B"), "\xE2\x80\x8Bword\xE2\x80\x8B");  // ZWSP (Cf)
  EXPECT_EQ(trimmed("\xEF\xBB\xBFword"), "\xEF\xBB\xBFword");                          // BOM (Cf)
  EXPECT_EQ(trimmed("\x1Fword\x1C"), "\x1Fword\x1C");          // separators that are Cc
  EXPECT_EQ(trimmed("\xE1\xA0\x8Eword"), "\xE1\xA0\x8Eword");  // U+180E, Cf in current Unicode
}

TEST(Trimmed, InvalidBytesStopTheTrimWithoutHarm) {
  EXPECT_EQ(trimmed(" \xFF word \xFF "), "\xFF word \xFF");
  EXPECT_EQ(trimmed(" \x80"), "\x80");
  EXPECT_EQ(trimmed("\xA0 "), "\xA0");  // a lone continuation byte is not U+00A0
}

TEST(SameTranscription, CanonicalEquivalence) {
  EXPECT_TRUE(sameTranscription("", ""));
  EXPECT_TRUE(sameTranscription("caf\xC3\xA9", "cafe\xCC\x81"));
  EXPECT_TRUE(sameTranscription("\xE1\xB9\xA9", "s\xCC\xA3\xCC\x87"));  // ṩ, marks reordered
  EXPECT_FALSE(sameTranscription("a", "a "));
  EXPECT_FALSE(sameTranscription("fi", "\xEF\xAC\x81"));  // compatibility, not canonical
  EXPECT_FALSE(sameTranscription("A", "a"));
  EXPECT_TRUE(sameTranscription("\xFF", "\xFF"));
  EXPECT_FALSE(sameTranscription("\xFF", "\xFE"));
  EXPECT_FALSE(sameTranscription(std::string("a\0b", 3), "a"));
}

}  // namespace
}  // namespace mic
