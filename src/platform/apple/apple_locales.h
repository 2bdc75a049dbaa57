#pragma once

#include <memory>

#include "platform/locale.h"

namespace mic {

// Locales as NSLocale names them ("en_US"); the current one is the user's preference.
std::unique_ptr<Locales> makeAppleLocales();

}  // namespace mic
