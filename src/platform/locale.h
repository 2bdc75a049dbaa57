#pragma once

#include <string>

namespace mic {

// A locale named by an identifier string ("en-US", "en_US.UTF-8"); what it maps to is the
// recognizer's business.
struct Locale {
  std::string identifier;
};

class Locales {
 public:
  virtual ~Locales() = default;
  // The user's preferred locale.
  virtual Locale current() = 0;
  // The locale named by `identifier`, exactly as given.
  virtual Locale fromIdentifier(const std::string& identifier) = 0;
};

}  // namespace mic
