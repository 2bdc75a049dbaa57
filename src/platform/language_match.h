#pragma once

#include <span>
#include <string>
#include <string_view>

namespace mic {

// The language subtag of a locale identifier, lower-cased: "pt" for "pt_BR", "PT-br",
// "pt_BR.UTF-8" or "pt_BR@euro". Empty when the identifier starts with none.
std::string languageOf(std::string_view identifier);

// Whether a recognizer for `offered` listens in the language `requested` names. A recognizer that
// falls back to another language for a locale it does not know counts as none.
bool sameLanguage(std::string_view requested, std::string_view offered);

// Whether a system recognizer made for `requested` serves it: the recognizer's own locale is of
// that language, and so is one of the locales the system says it recognizes.
bool servesLanguage(std::string_view requested, std::string_view recognizerLocale,
                    std::span<const std::string> supportedLocales);

}  // namespace mic
