#include "platform/language_match.h"

namespace mic {

std::string languageOf(std::string_view identifier) {
  std::string language;
  for (const char c : identifier) {
    if (c >= 'a' && c <= 'z') {
      language += c;
    } else if (c >= 'A' && c <= 'Z') {
      language += static_cast<char>(c - 'A' + 'a');
    } else {
      break;  // '_', '-', '.', '@' or anything else ends the subtag
    }
  }
  return language;
}

bool sameLanguage(std::string_view requested, std::string_view offered) {
  const std::string language = languageOf(requested);
  return !language.empty() && language == languageOf(offered);
}

}  // namespace mic
