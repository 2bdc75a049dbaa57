#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "display_text/english_words.h"

// Numbers said in words, read where the words leave no doubt and written as digits: cardinals,
// ordinals, decimals, money, percentages, times of day and years.
namespace mic::english {

bool isNumberWord(std::string_view word);

// A day of the month as an ordinal, said ("third", "twentieth") or written ("23rd").
bool isDay(std::string_view word);

// A parsed run of number words, ending before word `end`.
struct Number {
  int64_t value = 0;
  size_t end = 0;
  bool ordinal = false;
  bool startsWithA = false;  // "a hundred", "a thousand"
};

// What a rule made of the words from where it started to `end`: the text to write in their place,
// and a second word after it (AM or PM) if any; with no text, the words stay as spoken.
struct Reading {
  size_t end = 0;
  std::string text = {};
  const char* meridiem = nullptr;
};

// Reads numbers out of a hypothesis; each reading starts at word i.
class NumberReader {
 public:
  explicit NumberReader(Words words) : w_(words) {}

  // A time of day, "three thirty" as 3:30, with its AM or PM if said: "nine oh five am".
  std::optional<Reading> time(size_t i) const;
  // A year said in pairs, where the words before ask for one: "nineteen eighty four", 1984.
  std::optional<Reading> year(size_t i) const;
  // A decade said as a year, where the words before ask for one: "nineteen sixties", 1960s.
  std::optional<Reading> decade(size_t i) const;
  // Whatever number starts at word i, with its unit; or the words to keep as spoken, at least one.
  Reading number(size_t i) const;
  // A day of the month, after its month: "third", "twenty second"; a year may follow.
  std::optional<Number> day(size_t i) const;
  // A year that dates something starts at word i: "two thousand and ten", not "two thousand
  // dollars".
  bool isDate(size_t i) const;

 private:
  std::optional<Number> small(size_t i) const;
  std::optional<Number> group(size_t i) const;
  std::optional<Number> cardinal(size_t i) const;
  std::optional<Number> minutes(size_t i) const;
  std::optional<Number> yearInPairs(size_t i) const;
  std::optional<size_t> yearEnd(size_t i) const;
  bool isYear(size_t i) const;
  size_t spokenRun(size_t i) const;
  bool addFraction(Reading& reading) const;
  bool withUnit(size_t i, const Number& number, Reading& reading, bool decimal) const;
  void money(Reading& reading, bool decimal) const;

  Words w_;
};

}  // namespace mic::english
