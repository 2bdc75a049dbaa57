#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace mic {

// Turns a recognizer's words ("remind me at three thirty p m") into display text, as a person
// would write them ("Remind me at 3:30 PM"): the text every partial and the final carry.
class DisplayText {
 public:
  virtual ~DisplayText() = default;
  // `words`: one hypothesis, words separated by white space. A pure function of the words: the
  // same words always give the same text, and formatting that text again changes nothing. Any
  // thread, concurrently.
  virtual std::string format(std::string_view words) const = 0;
};

// The formatter for a model's language ("en-us", "en_US", "en"). A language without one of its own
// gets its words back unchanged. Reads the language's data (for English,
// the system word list) now: call it off the path to listening.
std::unique_ptr<DisplayText> makeDisplayText(std::string_view language);

// The words of a hypothesis: its runs of characters other than white space.
std::vector<std::string_view> splitWords(std::string_view text);

}  // namespace mic
