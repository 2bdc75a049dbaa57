#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "display_text/english_words.h"

// Capitals: the first word, "I", names the word list has only with a capital, and the few names of
// more than one word.
namespace mic::english {

// Words the word list has only in capitalised form (Monday, Paris, English), keyed by their lower
// case.
using ProperNouns = WordMap<std::string>;

// The proper nouns of a word list, one word a line. A word listed both ways (may/May, bill/Bill)
// is left out: the recognizer cannot say which.
ProperNouns properNounsOf(std::string_view wordList);

bool isMonth(std::string_view word);

// The word with its first letter capitalised.
std::string capitalised(std::string_view word);

// Gives the words their capitals. `spoken[k]` says that words[k] is as the recognizer wrote it;
// written words (digits, "March 3") keep theirs.
void capitalize(std::vector<std::string>& words, const std::vector<bool>& spoken,
                const ProperNouns& properNouns);

}  // namespace mic::english
