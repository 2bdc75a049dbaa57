#include "transcript/transcript_join.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace mic {
namespace {

struct Reading {
  StretchResult result;
  std::string whole;  // the transcript expected after it
};

struct JoinCase {
  const char* name;
  std::vector<Reading> readings;
};

StretchResult timed(std::string text, double start, double end, bool closes = false) {
  return {std::move(text), AudioSpan{start, end}, closes};
}

StretchResult untimed(std::string text, bool closes = false) {
  return {std::move(text), std::nullopt, closes};
}

// Timed readings are how the Linux decoder reports its segments (a pause closes one and the next
// starts where it ended); untimed ones are how the Mac's recognizer does (a closing result, then
// the text starts over).
const std::vector<JoinCase> kCases = {
    {"growth",
     {{timed("turn", 0, 5), "turn"},
      {timed("turn on", 0, 9), "turn on"},
      {timed("turn on the lights", 0, 14), "turn on the lights"}}},
    {"revision of the last words",
     {{timed("turn on the light", 0, 10), "turn on the light"},
      {timed("turn on the lights", 0, 12), "turn on the lights"},
      {timed("turn off the lights", 0, 13, true), "turn off the lights"}}},
    {"restart after a pause",
     {{timed("turn on the lights", 0, 14), "turn on the lights"},
      {timed("turn on the lights", 0, 16, true), "turn on the lights"},
      {timed("and", 16, 19), "turn on the lights and"},
      {timed("and close", 16, 22), "turn on the lights and close"}}},
    {"blank restart keeps what came before",
     {{untimed("turn on the lights"), "turn on the lights"},
      {untimed("turn on the lights.", true), "turn on the lights."},
      {untimed(""), "turn on the lights."},
      {untimed("And close"), "turn on the lights. And close"}}},
    {"restart then revision",
     {{untimed("turn on", true), "turn on"},
      {untimed("the light"), "turn on the light"},
      {untimed("the lights"), "turn on the lights"},
      {untimed("the lights please", true), "turn on the lights please"},
      {untimed("thanks"), "turn on the lights please thanks"}}},
    {"a final that repeats the closed stretch is not new speech",
     {{untimed("turn on the lights", true), "turn on the lights"},
      {untimed("turn on the lights", true), "turn on the lights"}}},
    {"a segment that ends without words drops its partial words",
     {{timed("turn on", 0, 10, true), "turn on"},
      {timed("uh", 10, 14), "turn on uh"},
      {timed("", 10, 18, true), "turn on"},
      {timed("", 18, 20, true), "turn on"},
      {timed("lights", 20, 25), "turn on lights"}}},
    {"a recognizer that keeps its text after closing a stretch goes on growing it",
     {{untimed("turn on", true), "turn on"},
      {untimed("turn on the lights"), "turn on the lights"}}},
    {"timing decides over repeated words",
     {{timed("yes", 0, 4, true), "yes"}, {timed("yes", 4, 8), "yes yes"}}},
};

TEST(TranscriptJoinTest, JoinsRestartedTextToWhatCameBefore) {
  for (const JoinCase& c : kCases) {
    TranscriptJoin join;
    for (size_t i = 0; i < c.readings.size(); ++i) {
      EXPECT_EQ(join.update(c.readings[i].result), c.readings[i].whole)
          << c.name << ", reading " << i;
    }
    join.clear();
    EXPECT_EQ(join.update(untimed("again")), "again") << c.name << ": clear kept something";
  }
}

}  // namespace
}  // namespace mic
