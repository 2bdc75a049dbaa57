#pragma once

#include <memory>
#include <string_view>

#include "display_text/display_text.h"

namespace mic {

// Where Debian's wamerican keeps its word list; its capitalised entries are the proper nouns.
inline constexpr const char* kEnglishWordList = "/usr/share/dict/american-english";

// English display text: capitals for the first word, "I", proper nouns, a few multi-word names and
// a month beside its date; digits for numbers from ten up, money, percentages, times, years,
// decades, ordinals from tenth and decimals, each only where the words leave no doubt. `wordList`
// is the word list's text, one word a line; empty, proper nouns stay as the recognizer wrote them
// and everything else still applies.
std::unique_ptr<DisplayText> makeEnglishDisplayText(std::string_view wordList);

}  // namespace mic
