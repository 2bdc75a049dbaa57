#include "platform/apple/language_match.h"

#include <gtest/gtest.h>

#include <optional>
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

TEST(LanguageMatchTest, FindsTheSupportedLocaleThatServesARequestBest) {
  // As the system lists them: in no particular order, with hyphens.
  const std::vector<std::string> supported = {"fr-CA", "en-GB",  "en-AE",          "de-CH", "en-US",
                                              "zh-TW", "es-MX",  "de-DE",          "zh-CN", "fr-FR",
                                              "es-ES", "en-IN",  "hi-IN-translit", "hi-IN", "pt-PT",
                                              "pt-BR", "yue-CN", "ca-ES",          "nb-NO"};
  struct Case {
    const char* requested;
    std::optional<std::string> best;
  };
  const Case cases[] = {
      {"en-US", "en-US"},
      {"en_GB", "en-GB"},            // either separator
      {"EN_in", "en-IN"},            // any case
      {"fr_CA.UTF-8", "fr-CA"},      // a POSIX codeset
      {"en_US@rg=dezzzz", "en-US"},  // a region override: the language's own region counts
      {"en_GB@rg=uszzzz", "en-GB"},
      {"en_US_POSIX", "en-US"},  // a variant
      {"zh-Hans-CN", "zh-CN"},   // a script the system's identifier leaves out
      {"zh_Hant_TW", "zh-TW"},
      {"hi_IN", "hi-IN"},  // not the transliterating one
      {"en_DE", "en-US"},  // a region without a recognizer: the usual one
      {"en", "en-US"},
      {"fr_BE", "fr-FR"},
      {"de_AT", "de-DE"},
      {"es_AR", "es-ES"},
      {"pt_AO", "pt-BR"},
      {"zh_SG", "zh-CN"},
      {"zh-Hant-DE", "zh-TW"},
      {"ca_FR", "ca-ES"},  // the only region of its language
      {"nb", "nb-NO"},
      {"yue-Hant-HK", "yue-CN"},
      {"xx_XX", std::nullopt},  // never another language
      {"sw_KE", std::nullopt},
      {"", std::nullopt},
      {"--help", std::nullopt},
      {"enx_US", std::nullopt},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(bestSupportedLocale(c.requested, supported), c.best) << "\"" << c.requested << "\"";
  }
  // The system's order does not change the answer.
  std::vector<std::string> reversed(supported.rbegin(), supported.rend());
  EXPECT_EQ(bestSupportedLocale("en_DE", reversed), "en-US");
  const std::vector<std::string> noUsualRegion = {"en-IN", "en-GB", "en-AU"};
  EXPECT_EQ(bestSupportedLocale("en_DE", noUsualRegion), "en-AU");  // the first, sorted
  EXPECT_EQ(bestSupportedLocale("en_US", {}), std::nullopt);
}

}  // namespace
}  // namespace mic
