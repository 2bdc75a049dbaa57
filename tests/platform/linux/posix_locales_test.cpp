#include "platform/linux/posix_locales.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace mic {
namespace {

// Puts the variables back as they were, so that later tests of this binary see the real ones.
class SavedEnvironment {
 public:
  explicit SavedEnvironment(std::vector<std::string> names) {
    for (auto& name : names) {
      const char* value = std::getenv(name.c_str());
      saved_.emplace_back(std::move(name),
                          value ? std::optional<std::string>(value) : std::nullopt);
    }
  }
  ~SavedEnvironment() {
    for (const auto& [name, value] : saved_) {
      if (value)
        setenv(name.c_str(), value->c_str(), 1);
      else
        unsetenv(name.c_str());
    }
  }
  SavedEnvironment(const SavedEnvironment&) = delete;
  SavedEnvironment& operator=(const SavedEnvironment&) = delete;

 private:
  std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

TEST(PosixLocales, PrecedenceOfTheEnvironment) {
  const SavedEnvironment saved({"LC_ALL", "LC_MESSAGES", "LANG"});
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
