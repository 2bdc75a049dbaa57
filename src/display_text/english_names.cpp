#include "display_text/english_names.h"

#include <array>
#include <cctype>
#include <optional>

namespace mic::english {
namespace {

constexpr std::array<std::string_view, 12> kMonths = {
    "january", "february", "march",     "april",   "may",      "june",
    "july",    "august",   "september", "october", "november", "december"};

// Names of more than one word; each of their words alone is left to the word list.
constexpr std::array<std::string_view, 40> kNames = {
    "new york",       "new jersey",     "new mexico",     "new hampshire",  "new orleans",
    "new zealand",    "new delhi",      "new england",    "los angeles",    "las vegas",
    "san francisco",  "san diego",      "san jose",       "san antonio",    "united states",
    "united kingdom", "united nations", "north carolina", "south carolina", "north dakota",
    "south dakota",   "west virginia",  "rhode island",   "hong kong",      "sri lanka",
    "costa rica",     "puerto rico",    "el salvador",    "saudi arabia",   "south africa",
    "south korea",    "north korea",    "north america",  "south america",  "middle east",
    "european union", "white house",    "wall street",    "silicon valley", "great britain"};

// Abbreviations the list keeps capitalised that would turn spoken words into wrong capitals.
constexpr std::array<std::string_view, 16> kAbbreviations = {
    "ariz", "bros", "calif", "capt", "colo", "conn", "kans",  "mich",
    "minn", "okla", "pkwy",  "robt", "sept", "thur", "thurs", "tues"};

// A capitalised entry worth keeping: a name, not an abbreviation ("Jan", "Mon"), an acronym
// ("NASA", "PhD") or a short entry that would capitalise a common word ("Hon", "Ta"). Gives the
// entry in lower case, its key, if it is one.
std::optional<std::string> nameKey(std::string_view entry) {
  std::string_view base = entry;
  if (base.size() > 2 && base.substr(base.size() - 2) == "'s") base.remove_suffix(2);
  if (base.size() < 4) return std::nullopt;
  for (size_t i = 0; i < base.size(); ++i) {
    const char c = base[i];
    const bool upper = c >= 'A' && c <= 'Z';
    if (!upper && !(c >= 'a' && c <= 'z') && c != '\'') return std::nullopt;
    if (upper && i > 0 && base[i - 1] >= 'A' && base[i - 1] <= 'Z') return std::nullopt;
  }
  if (base.back() < 'a' || base.back() > 'z') return std::nullopt;
  std::string lower(entry);
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  for (auto abbreviation : kAbbreviations) {
    if (std::string_view(lower).substr(0, base.size()) == abbreviation) return std::nullopt;
  }
  return lower;
}

template <typename Visit>
void forEachLine(std::string_view text, Visit visit) {
  while (!text.empty()) {
    const size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (!line.empty()) visit(line);
    if (end == std::string_view::npos) break;
    text.remove_prefix(end + 1);
  }
}

bool isLowerWord(std::string_view word) {
  if (word.empty()) return false;
  for (char c : word) {
    if (!(c >= 'a' && c <= 'z') && c != '\'') return false;
  }
  return true;
}

void capitalizeFirst(std::string& word) {
  if (!word.empty() && word[0] >= 'a' && word[0] <= 'z') word[0] = static_cast<char>(word[0] - 32);
}

bool isName(const std::string& first, const std::string& second) {
  for (auto name : kNames) {
    if (name.size() == first.size() + 1 + second.size() && name.substr(0, first.size()) == first &&
        name[first.size()] == ' ' && name.substr(first.size() + 1) == second) {
      return true;
    }
  }
  return false;
}

}  // namespace

ProperNouns properNounsOf(std::string_view wordList) {
  ProperNouns nouns;
  forEachLine(wordList, [&](std::string_view line) {
    if (line[0] < 'A' || line[0] > 'Z') return;
    if (auto key = nameKey(line)) nouns.try_emplace(std::move(*key), line);
  });
  forEachLine(wordList, [&](std::string_view line) {
    if (line[0] < 'a' || line[0] > 'z') return;
    if (auto found = nouns.find(line); found != nouns.end()) nouns.erase(found);
  });
  return nouns;
}

bool isMonth(std::string_view word) {
  for (auto month : kMonths) {
    if (word == month) return true;
  }
  return false;
}

std::string capitalised(std::string_view word) {
  std::string text(word);
  capitalizeFirst(text);
  return text;
}

void capitalize(std::vector<std::string>& words, const std::vector<bool>& spoken,
                const ProperNouns& properNouns) {
  for (size_t k = 0; k < words.size(); ++k) {
    if (!spoken[k] || !isLowerWord(words[k])) continue;
    if (k + 1 < words.size() && spoken[k + 1] && isName(words[k], words[k + 1])) {
      capitalizeFirst(words[k]);
      capitalizeFirst(words[k + 1]);
      ++k;
      continue;
    }
    std::string& word = words[k];
    if (isOneOf(word, {"i", "i'm", "i'll", "i've", "i'd"})) {
      word[0] = 'I';
    } else if (auto found = properNouns.find(word); found != properNouns.end()) {
      word = found->second;
    }
  }
  if (!words.empty()) capitalizeFirst(words[0]);
}

}  // namespace mic::english
