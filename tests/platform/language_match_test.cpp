#include "platform/language_match.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace mic {
namespace {

TEST(LanguageMatchTest, ComparesLanguageSubtagsOnly) {
  struct Case {
    const char* requested;
    const char* offered;
    bool same;
  };
  const Case cases[] = {
      {"en_US", "en_US", true},
      {"en-GB", "en_US", true},        // another region of the language is still the language
      {"EN_us", "en-US", true},        // any case, either separator
      {"de_DE.UTF-8", "de_DE", true},  // POSIX codeset
      {"fr_FR@euro", "fr_FR", true},   // POSIX modifier
      {"en_US@rg=gbzzzz", "en_US", true},
      {"zh-Hans-CN", "zh_CN", true},
      {"xx_XX", "en_US", false},  // the dictation language a recognizer falls back to
      {"zz_ZZ", "en_US", false},
      {"--help", "en_US", false},
      {"enx_US", "en_US", false},  // a prefix of another language is not it
      {"", "en_US", false},
      {"_US", "en_US", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(sameLanguage(c.requested, c.offered), c.same)
        << "\"" << c.requested << "\" against \"" << c.offered << "\"";
  }
}

TEST(LanguageMatchTest, ARecognizerServesOnlyALanguageTheSystemRecognizes) {
  const std::vector<std::string> supported = {"en-US", "en-GB", "fr-FR", "de-DE"};
  EXPECT_TRUE(servesLanguage("en_AU", "en-AU", supported));
  EXPECT_TRUE(servesLanguage("fr_CA.UTF-8", "fr-CA", supported));
  // The fallback: a recognizer of the dictation language for a locale it does not know.
  EXPECT_FALSE(servesLanguage("xx_XX", "en-US", supported));
  // A recognizer that kept the locale asked for, for a language the system does not recognize.
  EXPECT_FALSE(servesLanguage("sw_KE", "sw-KE", supported));
  EXPECT_FALSE(servesLanguage("en_US", "en-US", {}));
}

}  // namespace
}  // namespace mic
