// libFuzzer target for English display text: any hypothesis, made of the words the rules look at
// or of raw bytes, formats without crashing, and formatting the text again changes nothing.
#include <cstdint>
#include <string>
#include <string_view>

#include "display_text/display_text.h"

namespace {

// The words each rule turns on, and a few it must leave alone.
constexpr std::string_view kWords[] = {
    "zero",    "oh",      "one",      "two",       "three",     "four",     "five",     "seven",
    "nine",    "ten",     "eleven",   "twelve",    "fifteen",   "nineteen", "twenty",   "thirty",
    "forty",   "ninety",  "hundred",  "thousand",  "million",   "billion",  "first",    "second",
    "third",   "ninth",   "tenth",    "twentieth", "hundredth", "a",        "and",      "point",
    "dollars", "dollar",  "cents",    "percent",   "per",       "cent",     "am",       "pm",
    "a.m.",    "p.m.",    "m",        "m.",        "p",         "at",       "by",       "in",
    "since",   "of",      "until",    "from",      "march",     "may",      "april",    "monday",
    "i",       "i'm",     "new",      "york",      "paris",     "the",      "o'clock",  "no",
    "six",     "eight",   "eighty",   "fourth",    "twelfth",   "july",     "till",     "after",
    "a.",      "p.",      "a.m",      "pm.",       "sixteen",   "for",      "monday's", "mcdonald",
    "august",  "sixties", "nineties", "twenties",  "tens",      "hundreds", "late",     "go"};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const auto english = mic::makeDisplayText("en-us");
  if (size == 0) return 0;
  std::string words;
  if (data[0] & 1) {
    words.assign(reinterpret_cast<const char*>(data + 1), size - 1);
  } else {
    for (size_t i = 1; i < size; ++i) {
      if (!words.empty()) words += ' ';
      words += kWords[data[i] % std::size(kWords)];
    }
  }
  const std::string text = english->format(words);
  if (english->format(text) != text) __builtin_trap();
  return 0;
}
