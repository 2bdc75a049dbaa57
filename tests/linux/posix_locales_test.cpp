#include "platform/linux/posix_locales.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace mic {
namespace {

TEST(PosixLocales, PrecedenceOfTheEnvironment) {
  const auto with = [](const char* all, const char* messages, const char* lang) {
    const auto set = [](const char* name, const char* value) {
      if (value)
        setenv(name, value, 1);
      else
        unsetenv(name);
    };
    set("LC_ALL", all);
    set("LC_MESSAGES", messages);
    set("LANG", lang);
    return PosixLocales().current().identifier;
  };
  EXPECT_EQ(with("de_DE.UTF-8", "fr_FR", "en_GB"), "de_DE.UTF-8");
  EXPECT_EQ(with("", "fr_FR", "en_GB"), "fr_FR");
  EXPECT_EQ(with(nullptr, nullptr, "en_GB.UTF-8"), "en_GB.UTF-8");
  EXPECT_EQ(with(nullptr, nullptr, nullptr), "C");
  EXPECT_EQ(PosixLocales().fromIdentifier("en-US").identifier, "en-US");
}

}  // namespace
}  // namespace mic
