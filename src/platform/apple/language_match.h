#pragma once

#include <optional>
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

// The locale of `supported` (as the system lists them) that serves `requested` best, or none when
// none is of its language. In this order:
//  1. the same locale (case and '-' or '_' aside, and a POSIX codeset or modifier);
//  2. the same language and region, without keywords or variants: "en_US@rg=dezzzz" (a region
//     override in System Settings) and "en_US_POSIX" are en-US; "zh-Hans-CN" is zh-CN;
//  3. the same language in its usual region, as Unicode CLDR's likely subtags name it (en-US,
//     es-ES, fr-FR, de-DE, it-IT, pt-BR, nl-NL, zh-CN, zh-Hant: zh-TW, ...), the variety most of
//     its speakers use: English on a Mac set to Germany ("en_DE") is en-US;
//  4. else the first of that language's locales in sorted order, so the choice never depends on
//     the order the system happens to list them in.
// Never another language: a recognizer for one would write the speaker's words as words of its
// own.
std::optional<std::string> bestSupportedLocale(std::string_view requested,
                                               std::span<const std::string> supported);

}  // namespace mic
