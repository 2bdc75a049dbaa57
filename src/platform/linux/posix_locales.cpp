#include "platform/linux/posix_locales.h"

#include <cstdlib>

namespace mic {

Locale PosixLocales::current() {
  for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    const char* value = std::getenv(name);
    if (value && *value) return {value};
  }
  return {"C"};
}

}  // namespace mic
