#include "platform/linux/recognition/english_display_text.h"

#include <array>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

// No Debian package turns spoken English into written English in C or C++ (inverse text
// normalization needs Thrax or Pynini, which Debian lacks), so these rules are our own. They are
// deliberately few: each converts only where the words leave no doubt, and leaves them alone
// where a person would have to guess ("no one", "first of all", "three thirty" on its own).

namespace mic {
namespace {

enum class Kind { none, unit, teen, tens, scale };

struct NumberWord {
  Kind kind = Kind::none;
  int64_t value = 0;
  bool ordinal = false;
};

// Hashes a std::string or a string_view alike, so lookups need no copy of the word.
struct StringHash {
  using is_transparent = void;
  size_t operator()(std::string_view text) const { return std::hash<std::string_view>{}(text); }
};
template <typename Value>
using WordMap = std::unordered_map<std::string, Value, StringHash, std::equal_to<>>;

const WordMap<NumberWord>& numberWords() {
  static const WordMap<NumberWord> words = [] {
    WordMap<NumberWord> map;
    const std::array<const char*, 10> units = {"zero", "one", "two",   "three", "four",
                                               "five", "six", "seven", "eight", "nine"};
    const std::array<const char*, 10> unitOrdinals = {
        "", "first", "second", "third", "fourth", "fifth", "sixth", "seventh", "eighth", "ninth"};
    const std::array<const char*, 10> teens = {"ten",      "eleven",  "twelve",  "thirteen",
                                               "fourteen", "fifteen", "sixteen", "seventeen",
                                               "eighteen", "nineteen"};
    const std::array<const char*, 10> teenOrdinals = {
        "tenth",     "eleventh",  "twelfth",     "thirteenth", "fourteenth",
        "fifteenth", "sixteenth", "seventeenth", "eighteenth", "nineteenth"};
    const std::array<const char*, 8> tens = {"twenty", "thirty",  "forty",  "fifty",
                                             "sixty",  "seventy", "eighty", "ninety"};
    const std::array<const char*, 8> tensOrdinals = {"twentieth", "thirtieth", "fortieth",
                                                     "fiftieth",  "sixtieth",  "seventieth",
                                                     "eightieth", "ninetieth"};
    for (int i = 0; i < 10; ++i) {
      map[units[i]] = {Kind::unit, i, false};
      if (i > 0) map[unitOrdinals[i]] = {Kind::unit, i, true};
      map[teens[i]] = {Kind::teen, 10 + i, false};
      map[teenOrdinals[i]] = {Kind::teen, 10 + i, true};
    }
    for (int i = 0; i < 8; ++i) {
      map[tens[i]] = {Kind::tens, 20 + 10 * i, false};
      map[tensOrdinals[i]] = {Kind::tens, 20 + 10 * i, true};
    }
    const std::array<std::pair<const char*, int64_t>, 4> scales = {
        {{"hundred", 100}, {"thousand", 1000}, {"million", 1000000}, {"billion", 1000000000}}};
    for (const auto& [name, value] : scales) {
      map[name] = {Kind::scale, value, false};
      map[std::string(name) + "th"] = {Kind::scale, value, true};
    }
    return map;
  }();
  return words;
}

NumberWord numberWord(std::string_view word) {
  const auto& words = numberWords();
  auto found = words.find(word);
  return found == words.end() ? NumberWord{} : found->second;
}

bool isNumberWord(std::string_view word) { return numberWord(word).kind != Kind::none; }

constexpr std::array<std::string_view, 12> kMonths = {
    "january", "february", "march",     "april",   "may",      "june",
    "july",    "august",   "september", "october", "november", "december"};

bool isMonth(std::string_view word) {
  for (auto month : kMonths) {
    if (word == month) return true;
  }
  return false;
}

bool isOneOf(std::string_view word, std::initializer_list<std::string_view> list) {
  for (auto item : list) {
    if (word == item) return true;
  }
  return false;
}

// Words after which "three thirty" is a time of day, and "nineteen eighty four" a year.
bool isTimeContext(std::string_view word) {
  return isOneOf(word, {"at", "by", "until", "till", "before", "after", "around", "from"});
}
bool isYearContext(std::string_view word) {
  return isOneOf(word, {"in", "since", "until", "by", "from", "of"});
}

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

// A parsed run of number words: words [begin, end).
struct Number {
  int64_t value = 0;
  size_t end = 0;
  bool ordinal = false;
  bool startsWithA = false;  // "a hundred", "a thousand"
};

class Formatter {
 public:
  Formatter(const std::vector<std::string_view>& words, const WordMap<std::string>& properNouns)
      : w_(words), properNouns_(properNouns) {}

  std::string run() {
    for (size_t i = 0; i < w_.size();) i = step(i);
    capitalize();
    std::string text;
    for (const auto& word : out_) {
      if (!text.empty()) text += ' ';
      text += word;
    }
    return text;
  }

 private:
  std::string_view at(size_t i) const { return i < w_.size() ? w_[i] : std::string_view(); }

  // One to nineteen, or twenty to ninety-nine in one or two words; ordinals end the number.
  std::optional<Number> small(size_t i) const {
    const NumberWord word = numberWord(at(i));
    if ((word.kind == Kind::unit && word.value > 0) || word.kind == Kind::teen) {
      return Number{word.value, i + 1, word.ordinal};
    }
    if (word.kind != Kind::tens) return std::nullopt;
    const NumberWord next = numberWord(at(i + 1));
    if (!word.ordinal && next.kind == Kind::unit && next.value > 0) {
      return Number{word.value + next.value, i + 2, next.ordinal};
    }
    return Number{word.value, i + 1, word.ordinal};
  }

  // Below a thousand, or a count of hundreds ("fifteen hundred").
  std::optional<Number> group(size_t i) const {
    Number number;
    size_t next;
    const NumberWord after = numberWord(at(i + 1));
    if (at(i) == "a" && after.kind == Kind::scale && after.value == 100) {
      number = {1, i + 1, false, true};
    } else if (auto lead = small(i)) {
      number = *lead;
    } else {
      return std::nullopt;
    }
    next = number.end;
    const NumberWord scale = numberWord(at(next));
    if (number.ordinal || scale.kind != Kind::scale || scale.value != 100) return number;
    number.value *= 100;
    number.end = next + 1;
    number.ordinal = scale.ordinal;
    if (number.ordinal) return number;
    const size_t rest = at(number.end) == "and" ? number.end + 1 : number.end;
    if (auto tail = small(rest)) {
      number.value += tail->value;
      number.end = tail->end;
      number.ordinal = tail->ordinal;
    }
    return number;
  }

  // A whole cardinal or ordinal: groups joined by ever smaller thousands, millions, billions.
  std::optional<Number> cardinal(size_t i) const {
    Number number;
    int64_t current;
    const NumberWord after = numberWord(at(i + 1));
    if (at(i) == "a" && after.kind == Kind::scale && after.value >= 1000) {
      number = {0, i + 1, false, true};
      current = 1;
    } else if (auto first = group(i)) {
      number = *first;
      current = first->value;
      number.value = 0;
    } else {
      return std::nullopt;
    }
    int64_t lastScale = INT64_MAX;
    while (!number.ordinal) {
      const NumberWord scale = numberWord(at(number.end));
      if (scale.kind != Kind::scale || scale.value < 1000 || scale.value >= lastScale) break;
      number.value += current * scale.value;
      current = 0;
      lastScale = scale.value;
      ++number.end;
      number.ordinal = scale.ordinal;
      if (number.ordinal) break;
      const size_t rest = at(number.end) == "and" ? number.end + 1 : number.end;
      auto tail = group(rest);
      if (!tail || tail->startsWithA) break;
      current = tail->value;
      number.end = tail->end;
      number.ordinal = tail->ordinal;
    }
    number.value += current;
    return number;
  }

  // "a m", "a.m.", "am", "p m", "p.m", "pm." ...: the recognizer spells them many ways.
  std::optional<std::pair<const char*, size_t>> meridiem(size_t i) const {
    auto letter = [](std::string_view word) -> char {
      if (word == "a" || word == "a.") return 'a';
      if (word == "p" || word == "p.") return 'p';
      return 0;
    };
    const std::string_view word = at(i);
    char which = 0;
    size_t end = i + 1;
    if (isOneOf(word, {"am", "a.m.", "a.m", "am."})) {
      which = 'a';
    } else if (isOneOf(word, {"pm", "p.m.", "p.m", "pm."})) {
      which = 'p';
    } else if (letter(word) && isOneOf(at(i + 1), {"m", "m."})) {
      which = letter(word);
      end = i + 2;
    }
    if (!which) return std::nullopt;
    return std::make_pair(which == 'a' ? "AM" : "PM", end);
  }

  // An hour of the clock, one to twelve, in one word.
  static std::optional<int> hour(std::string_view word) {
    const NumberWord number = numberWord(word);
    if (number.ordinal || number.value < 1 || number.value > 12) return std::nullopt;
    if (number.kind != Kind::unit && number.kind != Kind::teen) return std::nullopt;
    return static_cast<int>(number.value);
  }

  // Minutes past the hour: "oh five", "fifteen", "forty five".
  std::optional<Number> minutes(size_t i) const {
    if (at(i) == "oh") {
      const NumberWord unit = numberWord(at(i + 1));
      if (unit.kind != Kind::unit || unit.ordinal || unit.value == 0) return std::nullopt;
      return Number{unit.value, i + 2};
    }
    const NumberWord word = numberWord(at(i));
    if (word.kind != Kind::teen && word.kind != Kind::tens) return std::nullopt;
    auto number = small(i);
    if (!number || number->ordinal || number->value > 59) return std::nullopt;
    return number;
  }

  // "nineteen eighty four", "twenty twenty", "nineteen oh five", "nineteen hundred".
  std::optional<Number> yearInPairs(size_t i) const {
    const NumberWord century = numberWord(at(i));
    const bool teen = century.kind == Kind::teen && century.value >= 11;
    if (century.ordinal || !(teen || at(i) == "twenty")) return std::nullopt;
    const NumberWord next = numberWord(at(i + 1));
    if (next.kind == Kind::scale && next.value == 100 && !next.ordinal) {
      return Number{century.value * 100, i + 2};
    }
    auto rest = minutes(i + 1);  // the same shapes, from oh one to ninety nine
    if (!rest && next.kind == Kind::tens) rest = small(i + 1);
    if (!rest || rest->ordinal) return std::nullopt;
    return Number{century.value * 100 + rest->value, rest->end};
  }

  // A year, and nothing more, in either form: "nineteen seventy six", "two thousand and nine".
  bool isYear(size_t i) const {
    if (auto year = yearInPairs(i); year && !isNumberWord(at(year->end))) return true;
    auto number = cardinal(i);
    return number && !number->ordinal && !number->startsWithA && number->value >= 1000 &&
           number->value < 3000 && !isNumberWord(at(number->end));
  }

  // Number words right after a parsed run mean digits read one by one, a phone number or a pair
  // form out of place: the whole run stays as spoken.
  size_t copyRun(size_t i) {
    // "a hundred ..." copies its "a" too, or the rest would read as a number the next time.
    size_t end = at(i) == "a" ? i + 1 : i;
    while (end < w_.size() && (isNumberWord(w_[end]) || w_[end] == "oh" || w_[end] == "point" ||
                               (w_[end] == "and" && isNumberWord(at(end + 1))))) {
      ++end;
    }
    if (end == i) end = i + 1;
    for (size_t k = i; k < end; ++k) copy(w_[k]);
    return end;
  }

  void copy(std::string_view word) {
    out_.emplace_back(word);
    spoken_.push_back(true);
  }
  void emit(std::string text) {
    out_.push_back(std::move(text));
    spoken_.push_back(false);
  }

  // Commas from 10,000 up; none in a four-digit number.
  static std::string digits(int64_t value) {
    const std::string plain = std::to_string(value);
    if (value < 10000) return plain;
    std::string text;
    for (size_t i = 0; i < plain.size(); ++i) {
      if (i > 0 && (plain.size() - i) % 3 == 0) text += ',';
      text += plain[i];
    }
    return text;
  }
  static std::string ordinal(int64_t value) {
    const int64_t last2 = value % 100;
    const int64_t last = value % 10;
    const char* suffix = "th";
    if (last2 < 11 || last2 > 13)
      suffix = last == 1 ? "st" : last == 2 ? "nd" : last == 3 ? "rd" : "th";
    return digits(value) + suffix;
  }

  // Formats what starts at word i and returns where the next word starts.
  size_t step(size_t i) {
    const std::string_view word = w_[i];
    const std::string_view before = i > 0 ? w_[i - 1] : std::string_view();
    const bool afterMonth = yearMayFollow_;
    yearMayFollow_ = false;

    if (isMonth(word)) {
      auto day = cardinal(i + 1);
      if (day && day->ordinal && day->value >= 1 && day->value <= 31 && !day->startsWithA &&
          (!isNumberWord(at(day->end)) || isYear(day->end))) {
        std::string month(word);
        month[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(month[0])));
        emit(month);
        emit(std::to_string(day->value));
        yearMayFollow_ = true;
        return day->end;
      }
      copy(word);
      yearMayFollow_ = true;
      return i + 1;
    }

    if (auto h = hour(word)) {
      if (auto m = minutes(i + 1); m && !isNumberWord(at(m->end))) {
        auto ampm = meridiem(m->end);
        if (isTimeContext(before) || ampm) {
          char text[16];
          std::snprintf(text, sizeof text, "%d:%02d", *h, static_cast<int>(m->value));
          emit(text);
          if (!ampm) return m->end;
          emit(ampm->first);
          return ampm->second;
        }
      }
    }

    if (isYearContext(before) || afterMonth) {
      if (auto year = yearInPairs(i); year && !isNumberWord(at(year->end))) {
        emit(std::to_string(year->value));
        return year->end;
      }
    }

    std::optional<Number> number = cardinal(i);
    if (!number && word == "zero" && at(i + 1) == "point") number = Number{0, i + 1};
    if (!number) {
      copy(word);
      return i + 1;
    }
    std::string text = number->ordinal ? ordinal(number->value) : digits(number->value);
    size_t end = number->end;
    bool decimal = false;
    if (!number->ordinal && at(end) == "point") {
      std::string fraction;
      size_t k = end + 1;
      for (;; ++k) {
        const NumberWord digit = numberWord(at(k));
        if (at(k) == "oh") {
          fraction += '0';
        } else if (digit.kind == Kind::unit && !digit.ordinal) {
          fraction += static_cast<char>('0' + digit.value);
        } else {
          break;
        }
      }
      if (!fraction.empty()) {
        text += "." + fraction;
        end = k;
        decimal = true;
      }
    }
    if (isNumberWord(at(end))) return copyRun(i);

    const std::string_view unit = at(end);
    if (!number->ordinal && !number->startsWithA) {
      if (unit == "dollars" || unit == "dollar") {
        ++end;
        if (!decimal) {
          size_t rest = at(end) == "and" ? end + 1 : end;
          auto cents = cardinal(rest);
          if (cents && !cents->ordinal && !cents->startsWithA && cents->value <= 99 &&
              !isNumberWord(at(cents->end))) {
            const bool named = isOneOf(at(cents->end), {"cents", "cent"});
            if (named || (rest == end && cents->value >= 10)) {
              char fraction[8];
              std::snprintf(fraction, sizeof fraction, ".%02d", static_cast<int>(cents->value));
              text += fraction;
              end = cents->end + (named ? 1 : 0);
            }
          }
        }
        emit("$" + text);
        return end;
      }
      if (unit == "percent" || (unit == "per" && at(end + 1) == "cent")) {
        emit(text + "%");
        return end + (unit == "per" ? 2 : 1);
      }
      if (unit == "cents" || unit == "cent") {
        emit(text);
        return end;
      }
      if (!decimal && number->value >= 1 && number->value <= 12 && end == i + 1) {
        if (auto ampm = meridiem(end)) {
          emit(text);
          emit(ampm->first);
          return ampm->second;
        }
      }
    }
    const bool alone = number->startsWithA && end == i + 2;
    if (decimal || (number->value >= 10 && !alone)) {
      emit(text);
      return end;
    }
    copy(word);
    return i + 1;
  }

  static bool isLowerWord(std::string_view word) {
    if (word.empty()) return false;
    for (char c : word) {
      if (!(c >= 'a' && c <= 'z') && c != '\'') return false;
    }
    return true;
  }
  static void capitalizeFirst(std::string& word) {
    if (!word.empty() && word[0] >= 'a' && word[0] <= 'z')
      word[0] = static_cast<char>(word[0] - 32);
  }

  void capitalize() {
    for (size_t k = 0; k < out_.size(); ++k) {
      if (!spoken_[k] || !isLowerWord(out_[k])) continue;
      if (k + 1 < out_.size() && spoken_[k + 1]) {
        const std::string pair = out_[k] + " " + out_[k + 1];
        bool named = false;
        for (auto name : kNames) named = named || pair == name;
        if (named) {
          capitalizeFirst(out_[k]);
          capitalizeFirst(out_[k + 1]);
          ++k;
          continue;
        }
      }
      std::string& word = out_[k];
      if (word == "i" || word == "i'm" || word == "i'll" || word == "i've" || word == "i'd") {
        word[0] = 'I';
      } else if (auto found = properNouns_.find(word); found != properNouns_.end()) {
        word = found->second;
      }
    }
    if (!out_.empty()) capitalizeFirst(out_[0]);
  }

  const std::vector<std::string_view>& w_;
  const WordMap<std::string>& properNouns_;
  std::vector<std::string> out_;
  std::vector<bool> spoken_;  // copied as the recognizer wrote it, so capitals may apply
  bool yearMayFollow_ = false;
};

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

// Words the list has only in capitalised form (Monday, Paris, English), keyed by their lower case.
// A word listed both ways (may/May, bill/Bill) is left out: the recognizer cannot say which.
WordMap<std::string> properNounsOf(std::string_view wordList) {
  WordMap<std::string> nouns;
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

class EnglishDisplayText final : public DisplayText {
 public:
  explicit EnglishDisplayText(std::string_view wordList) : properNouns_(properNounsOf(wordList)) {}

  std::string format(std::string_view text) const override {
    std::vector<std::string_view> words = splitWords(text);
    // Formatted text comes back with its first letter capitalised; read it as the recognizer
    // wrote it, so that formatting again changes nothing ("Three thirty ...", "March 3").
    std::string first;
    if (!words.empty() && words[0][0] >= 'A' && words[0][0] <= 'Z') {
      first = words[0];
      first[0] = static_cast<char>(first[0] - 'A' + 'a');
      words[0] = first;
    }
    return Formatter(words, properNouns_).run();
  }

 private:
  const WordMap<std::string> properNouns_;
};

}  // namespace

std::unique_ptr<DisplayText> makeEnglishDisplayText(std::string_view wordList) {
  return std::make_unique<EnglishDisplayText>(wordList);
}

}  // namespace mic
