#include "platform/language_match.h"

#include <algorithm>

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

bool servesLanguage(std::string_view requested, std::string_view recognizerLocale,
                    std::span<const std::string> supportedLocales) {
  return sameLanguage(requested, recognizerLocale) &&
         std::ranges::any_of(supportedLocales, [&](const std::string& offered) {
           return sameLanguage(requested, offered);
         });
}

}  // namespace mic
