#include "display_text/english_numbers.h"

#include <array>
#include <charconv>
#include <cstdio>
#include <utility>

namespace mic::english {
namespace {

// decade: "sixties", "tens", "hundreds", the last word of a decade said as a year.
enum class Kind { none, unit, teen, tens, scale, decade };

struct NumberWord {
  Kind kind = Kind::none;
  int64_t value = 0;
  bool ordinal = false;
};

const WordMap<NumberWord>& numberWords() {
  // Never destroyed: a library's exit() runs static destructors under the threads still reading it.
  static const WordMap<NumberWord>& words = *new WordMap<NumberWord>([] {
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
    const std::array<const char*, 8> decades = {"twenties", "thirties",  "forties",  "fifties",
                                                "sixties",  "seventies", "eighties", "nineties"};
    for (int i = 0; i < 8; ++i) {
      map[tens[i]] = {Kind::tens, 20 + 10 * i, false};
      map[tensOrdinals[i]] = {Kind::tens, 20 + 10 * i, true};
      map[decades[i]] = {Kind::decade, 20 + 10 * i, false};
    }
    map["tens"] = {Kind::decade, 10, false};
    map["hundreds"] = {Kind::decade, 0, false};
    const std::array<std::pair<const char*, int64_t>, 4> scales = {
        {{"hundred", 100}, {"thousand", 1000}, {"million", 1000000}, {"billion", 1000000000}}};
    for (const auto& [name, value] : scales) {
      map[name] = {Kind::scale, value, false};
      map[std::string(name) + "th"] = {Kind::scale, value, true};
    }
    return map;
  }());
  return words;
}

NumberWord numberWord(std::string_view word) {
  const auto& words = numberWords();
  auto found = words.find(word);
  return found == words.end() ? NumberWord{} : found->second;
}

// "a m", "a.m.", "am", "p m", "p.m", "pm." ...: the recognizer spells them many ways.
struct Meridiem {
  const char* text;
  size_t end;
};
std::optional<Meridiem> meridiem(Words w, size_t i) {
  auto letter = [](std::string_view word) -> char {
    if (word == "a" || word == "a.") return 'a';
    if (word == "p" || word == "p.") return 'p';
    return 0;
  };
  const std::string_view word = w[i];
  char which = 0;
  size_t end = i + 1;
  if (isOneOf(word, {"am", "a.m.", "a.m", "am."})) {
    which = 'a';
  } else if (isOneOf(word, {"pm", "p.m.", "p.m", "pm."})) {
    which = 'p';
  } else if (letter(word) && isOneOf(w[i + 1], {"m", "m."})) {
    which = letter(word);
    end = i + 2;
  }
  if (!which) return std::nullopt;
  return Meridiem{which == 'a' ? "AM" : "PM", end};
}

// An hour of the clock, one to twelve, in one word.
std::optional<int> hour(std::string_view word) {
  const NumberWord number = numberWord(word);
  if (number.ordinal || number.value < 1 || number.value > 12) return std::nullopt;
  if (number.kind != Kind::unit && number.kind != Kind::teen) return std::nullopt;
  return static_cast<int>(number.value);
}

// Commas from 10,000 up; none in a four-digit number.
std::string digits(int64_t value) {
  const std::string plain = std::to_string(value);
  if (value < 10000) return plain;
  std::string text;
  for (size_t i = 0; i < plain.size(); ++i) {
    if (i > 0 && (plain.size() - i) % 3 == 0) text += ',';
    text += plain[i];
  }
  return text;
}

std::string_view ordinalSuffix(int64_t value) {
  const int64_t last2 = value % 100;
  const int64_t last = value % 10;
  if (last2 >= 11 && last2 <= 13) return "th";
  return last == 1 ? "st" : last == 2 ? "nd" : last == 3 ? "rd" : "th";
}

std::string ordinal(int64_t value) {
  std::string text = digits(value);
  text += ordinalSuffix(value);
  return text;
}

}  // namespace

bool isNumberWord(std::string_view word) { return numberWord(word).kind != Kind::none; }

bool isDay(std::string_view word) {
  const NumberWord spoken = numberWord(word);
  if (spoken.ordinal) return spoken.kind != Kind::scale && spoken.value <= 31;
  int value = 0;
  const auto [rest, error] = std::from_chars(word.data(), word.data() + word.size(), value);
  const std::string_view suffix(rest, word.data() + word.size() - rest);
  return error == std::errc() && value >= 1 && value <= 31 && suffix == ordinalSuffix(value);
}

// One to nineteen, or twenty to ninety-nine in one or two words; ordinals end the number.
std::optional<Number> NumberReader::small(size_t i) const {
  const NumberWord word = numberWord(w_[i]);
  if ((word.kind == Kind::unit && word.value > 0) || word.kind == Kind::teen) {
    return Number{word.value, i + 1, word.ordinal};
  }
  if (word.kind != Kind::tens) return std::nullopt;
  const NumberWord next = numberWord(w_[i + 1]);
  if (!word.ordinal && next.kind == Kind::unit && next.value > 0) {
    return Number{word.value + next.value, i + 2, next.ordinal};
  }
  return Number{word.value, i + 1, word.ordinal};
}

// Below a thousand, or a count of hundreds ("fifteen hundred").
std::optional<Number> NumberReader::group(size_t i) const {
  Number number;
  const NumberWord after = numberWord(w_[i + 1]);
  if (w_[i] == "a" && after.kind == Kind::scale && after.value == 100) {
    number = {1, i + 1, false, true};
  } else if (auto lead = small(i)) {
    number = *lead;
  } else {
    return std::nullopt;
  }
  const size_t next = number.end;
  const NumberWord scale = numberWord(w_[next]);
  if (number.ordinal || scale.kind != Kind::scale || scale.value != 100) return number;
  number.value *= 100;
  number.end = next + 1;
  number.ordinal = scale.ordinal;
  if (number.ordinal) return number;
  const size_t rest = w_[number.end] == "and" ? number.end + 1 : number.end;
  if (auto tail = small(rest)) {
    number.value += tail->value;
    number.end = tail->end;
    number.ordinal = tail->ordinal;
  }
  return number;
}

// A whole cardinal or ordinal: groups joined by ever smaller thousands, millions, billions.
std::optional<Number> NumberReader::cardinal(size_t i) const {
  Number number;
  int64_t current;
  const NumberWord after = numberWord(w_[i + 1]);
  if (w_[i] == "a" && after.kind == Kind::scale && after.value >= 1000) {
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
    const NumberWord scale = numberWord(w_[number.end]);
    if (scale.kind != Kind::scale || scale.value < 1000 || scale.value >= lastScale) break;
    number.value += current * scale.value;
    current = 0;
    lastScale = scale.value;
    ++number.end;
    number.ordinal = scale.ordinal;
    if (number.ordinal) break;
    const size_t rest = w_[number.end] == "and" ? number.end + 1 : number.end;
    auto tail = group(rest);
    if (!tail || tail->startsWithA) break;
    current = tail->value;
    number.end = tail->end;
    number.ordinal = tail->ordinal;
  }
  number.value += current;
  return number;
}

// Minutes past the hour: "oh five", "fifteen", "forty five".
std::optional<Number> NumberReader::minutes(size_t i) const {
  if (w_[i] == "oh") {
    const NumberWord unit = numberWord(w_[i + 1]);
    if (unit.kind != Kind::unit || unit.ordinal || unit.value == 0) return std::nullopt;
    return Number{unit.value, i + 2};
  }
  const NumberWord word = numberWord(w_[i]);
  if (word.kind != Kind::teen && word.kind != Kind::tens) return std::nullopt;
  auto number = small(i);
  if (!number || number->ordinal || number->value > 59) return std::nullopt;
  return number;
}

// "nineteen eighty four", "twenty twenty", "nineteen oh five", "nineteen hundred".
std::optional<Number> NumberReader::yearInPairs(size_t i) const {
  const NumberWord century = numberWord(w_[i]);
  const bool teen = century.kind == Kind::teen && century.value >= 11;
  if (century.ordinal || !(teen || w_[i] == "twenty")) return std::nullopt;
  const NumberWord next = numberWord(w_[i + 1]);
  if (next.kind == Kind::scale && next.value == 100 && !next.ordinal) {
    return Number{century.value * 100, i + 2};
  }
  auto rest = minutes(i + 1);  // the same shapes, from oh one to ninety nine
  if (!rest && next.kind == Kind::tens) rest = small(i + 1);
  if (!rest || rest->ordinal) return std::nullopt;
  return Number{century.value * 100 + rest->value, rest->end};
}

// A year, and nothing more, in either form: "nineteen seventy six", "two thousand and nine".
// Gives where it ends.
std::optional<size_t> NumberReader::yearEnd(size_t i) const {
  if (auto year = yearInPairs(i); year && !isNumberWord(w_[year->end])) return year->end;
  auto number = cardinal(i);
  if (!number || number->ordinal || number->startsWithA || number->value < 1000 ||
      number->value >= 3000 || isNumberWord(w_[number->end])) {
    return std::nullopt;
  }
  return number->end;
}

bool NumberReader::isYear(size_t i) const { return yearEnd(i).has_value(); }

bool NumberReader::isDate(size_t i) const {
  auto end = yearEnd(i);
  return end && !isOneOf(w_[*end], {"dollars", "dollar", "percent", "per", "cents", "cent"});
}

std::optional<Reading> NumberReader::time(size_t i) const {
  auto h = hour(w_[i]);
  if (!h) return std::nullopt;
  auto m = minutes(i + 1);
  if (!m || isNumberWord(w_[m->end])) return std::nullopt;
  auto ampm = meridiem(w_, m->end);
  char text[16];
  std::snprintf(text, sizeof text, "%d:%02d", *h, static_cast<int>(m->value));
  if (!ampm) return Reading{m->end, text};
  return Reading{ampm->end, text, ampm->text};
}

std::optional<Reading> NumberReader::year(size_t i) const {
  auto year = yearInPairs(i);
  if (!year || isNumberWord(w_[year->end])) return std::nullopt;
  return Reading{year->end, std::to_string(year->value)};
}

std::optional<Reading> NumberReader::decade(size_t i) const {
  const NumberWord century = numberWord(w_[i]);
  const bool teen = century.kind == Kind::teen && century.value >= 11;
  if (century.ordinal || !(teen || w_[i] == "twenty")) return std::nullopt;
  const NumberWord decade = numberWord(w_[i + 1]);
  if (decade.kind != Kind::decade || isNumberWord(w_[i + 2])) return std::nullopt;
  return Reading{i + 2, std::to_string(century.value * 100 + decade.value) + "s"};
}

std::optional<Number> NumberReader::day(size_t i) const {
  auto day = cardinal(i);
  if (!day || !day->ordinal || day->value < 1 || day->value > 31 || day->startsWithA) {
    return std::nullopt;
  }
  if (isNumberWord(w_[day->end]) && !isYear(day->end)) return std::nullopt;
  return day;
}

// Number words right after a parsed run mean digits read one by one, a phone number or a pair
// form out of place: the whole run stays as spoken. Gives where it ends.
size_t NumberReader::spokenRun(size_t i) const {
  // "a hundred ..." keeps its "a" too, or the rest would read as a number the next time.
  size_t end = w_[i] == "a" ? i + 1 : i;
  while (end < w_.size() && (isNumberWord(w_[end]) || w_[end] == "oh" || w_[end] == "point" ||
                             (w_[end] == "and" && isNumberWord(w_[end + 1])))) {
    ++end;
  }
  return end == i ? i + 1 : end;
}

// "point five", "point oh five": digits after the point, if any follow it.
bool NumberReader::addFraction(Reading& reading) const {
  if (w_[reading.end] != "point") return false;
  std::string fraction;
  size_t k = reading.end + 1;
  for (;; ++k) {
    const NumberWord digit = numberWord(w_[k]);
    if (w_[k] == "oh") {
      fraction += '0';
    } else if (digit.kind == Kind::unit && !digit.ordinal) {
      fraction += static_cast<char>('0' + digit.value);
    } else {
      break;
    }
  }
  if (fraction.empty()) return false;
  reading.text += "." + fraction;
  reading.end = k;
  return true;
}

// "$5", "$5.50": "five dollars and fifty cents", "five dollars fifty".
void NumberReader::money(Reading& reading, bool decimal) const {
  const size_t end = reading.end + 1;  // past "dollars"
  reading.end = end;
  if (!decimal) {
    const size_t rest = w_[end] == "and" ? end + 1 : end;
    auto cents = cardinal(rest);
    if (cents && !cents->ordinal && !cents->startsWithA && cents->value <= 99 &&
        !isNumberWord(w_[cents->end])) {
      const bool named = isOneOf(w_[cents->end], {"cents", "cent"});
      if (named || (rest == end && cents->value >= 10)) {
        char fraction[8];
        std::snprintf(fraction, sizeof fraction, ".%02d", static_cast<int>(cents->value));
        reading.text += fraction;
        reading.end = cents->end + (named ? 1 : 0);
      }
    }
  }
  reading.text.insert(reading.text.begin(), '$');
}

// Money, percent, cents and a.m./p.m. after a number: these take digits even below ten. Says
// whether a unit followed, and adds it to the reading.
bool NumberReader::withUnit(size_t i, const Number& number, Reading& reading, bool decimal) const {
  const std::string_view unit = w_[reading.end];
  if (unit == "dollars" || unit == "dollar") {
    money(reading, decimal);
    return true;
  }
  if (unit == "percent" || (unit == "per" && w_[reading.end + 1] == "cent")) {
    reading.text += '%';
    reading.end += unit == "per" ? 2 : 1;
    return true;
  }
  if (unit == "cents" || unit == "cent") return true;
  if (decimal || number.value < 1 || number.value > 12 || reading.end != i + 1) return false;
  auto ampm = meridiem(w_, reading.end);
  if (!ampm) return false;
  reading.end = ampm->end;
  reading.meridiem = ampm->text;
  return true;
}

Reading NumberReader::number(size_t i) const {
  std::optional<Number> number = cardinal(i);
  if (!number && w_[i] == "zero" && w_[i + 1] == "point") number = Number{0, i + 1};
  if (!number) return Reading{i + 1};
  Reading reading{number->end, number->ordinal ? ordinal(number->value) : digits(number->value)};
  const bool decimal = !number->ordinal && addFraction(reading);
  if (isNumberWord(w_[reading.end])) return Reading{spokenRun(i)};
  if (!number->ordinal && withUnit(i, *number, reading, decimal)) return reading;
  const bool alone = number->startsWithA && reading.end == i + 2;
  if (decimal || (number->value >= 10 && !alone)) return reading;
  return Reading{i + 1};
}

}  // namespace mic::english
