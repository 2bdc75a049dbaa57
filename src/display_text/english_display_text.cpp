#include "display_text/english_display_text.h"

#include <string>
#include <utility>
#include <vector>

#include "display_text/english_names.h"
#include "display_text/english_numbers.h"
#include "display_text/english_words.h"

// No Debian package turns spoken English into written English in C or C++ (inverse text
// normalization needs Thrax or Pynini, which Debian lacks), so these rules are our own. They are
// deliberately few: each converts only where the words leave no doubt, and leaves them alone
// where a person would have to guess ("no one", "first of all", "three thirty" on its own).

namespace mic {
namespace english {
namespace {

// Words after which "three thirty" is a time of day, and "nineteen eighty four" a year; after
// these and the, early, mid or late, "nineteen sixties" is a decade.
bool isTimeContext(std::string_view word) {
  return isOneOf(word, {"at", "by", "until", "till", "before", "after", "around", "from"});
}
bool isYearContext(std::string_view word) {
  return isOneOf(word, {"in", "since", "until", "by", "from", "of"});
}

// One pass over a hypothesis's words, rule by rule, then the capitals.
class Formatter {
 public:
  explicit Formatter(const std::vector<std::string_view>& words) : w_(words), numbers_(w_) {}

  std::string run(const ProperNouns& properNouns) {
    for (size_t i = 0; i < w_.size();) i = step(i);
    capitalize(out_, spoken_, properNouns);
    std::string text;
    for (const auto& word : out_) {
      if (!text.empty()) text += ' ';
      text += word;
    }
    return text;
  }

 private:
  // Formats what starts at word i and returns where the next word starts.
  size_t step(size_t i) {
    const std::string_view before = w_[i - 1];
    const bool afterMonth = std::exchange(yearMayFollow_, false);
    if (isMonth(w_[i])) return month(i);
    // A time without AM or PM needs a word that asks for one.
    if (auto time = numbers_.time(i); time && (time->meridiem || isTimeContext(before))) {
      return write(i, *time);
    }
    const bool yearContext = isYearContext(before);
    if (yearContext || afterMonth) {
      if (auto year = numbers_.year(i)) return write(i, *year);
    }
    if (yearContext || isOneOf(before, {"the", "early", "mid", "late"})) {
      if (auto decade = numbers_.decade(i)) return write(i, *decade);
    }
    return write(i, numbers_.number(i));
  }

  // "march third" is March 3; a year may follow a month either way.
  size_t month(size_t i) {
    yearMayFollow_ = true;
    if (auto day = numbers_.day(i + 1)) {
      emit(capitalised(w_[i]));
      emit(std::to_string(day->value));
      return day->end;
    }
    if (isDateMonth(i)) {
      emit(capitalised(w_[i]));
    } else {
      copy(w_[i]);
    }
    return i + 1;
  }

  // May, March and August are words too ("you may go"): the month only beside a year ("august
  // nineteen ninety"), after a day and "of" ("the 23rd of March"), or after in, since or until
  // with a year to follow ("in august two thousand and ten", "since may of two thousand").
  bool isDateMonth(size_t i) const {
    // A number that is no date's year leaves the other signs to decide: "the 20th of March" keeps
    // its capital before "eleven eleven" too, as it does once that number is written in digits.
    if (numbers_.year(i + 1) && numbers_.isDate(i + 1)) return true;
    const std::string_view before = w_[i - 1];
    if (before == "of") return out_.size() >= 2 && isDay(out_[out_.size() - 2]);
    if (!isOneOf(before, {"in", "since", "until"})) return false;
    return numbers_.isDate(w_[i + 1] == "of" ? i + 2 : i + 1);
  }

  size_t write(size_t i, const Reading& reading) {
    if (reading.text.empty()) {
      for (size_t k = i; k < reading.end; ++k) copy(w_[k]);
      return reading.end;
    }
    emit(reading.text);
    if (reading.meridiem) emit(reading.meridiem);
    return reading.end;
  }

  void copy(std::string_view word) {
    out_.emplace_back(word);
    spoken_.push_back(true);
  }
  void emit(std::string text) {
    out_.push_back(std::move(text));
    spoken_.push_back(false);
  }

  const Words w_;
  const NumberReader numbers_;
  std::vector<std::string> out_;
  std::vector<bool> spoken_;  // copied as the recognizer wrote it, so capitals may apply
  bool yearMayFollow_ = false;
};

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
    return Formatter(words).run(properNouns_);
  }

 private:
  const ProperNouns properNouns_;
};

}  // namespace
}  // namespace english

std::unique_ptr<DisplayText> makeEnglishDisplayText(std::string_view wordList) {
  return std::make_unique<english::EnglishDisplayText>(wordList);
}

}  // namespace mic
