#pragma once

#include <string>

#include "platform/locale.h"

namespace mic {

// The current locale is the POSIX one: LC_ALL, then LC_MESSAGES, then LANG, as the C library
// decides which language messages are in. None set means "C".
class PosixLocales : public Locales {
 public:
  Locale current() override;
  Locale fromIdentifier(const std::string& identifier) override { return {identifier}; }
};

}  // namespace mic
