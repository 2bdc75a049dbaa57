#include "display_text/display_text.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "display_text/english_display_text.h"

namespace mic::testing {
namespace {

// Entries as wamerican has them: names only capitalised, words listed both ways, and the
// abbreviations, acronyms and short entries the formatter must not take for names.
constexpr const char* kWordList =
    "April\nAugust\nBill\nEnglish\nHon\nI'm\nJan\nMay\nMcDonald\nMonday\nMonday's\nNASA\nParis\n"
    "PhD\nSept\nYork\naugust\nbill\nhon\ni\nmarch\nMarch\nmay\nparis's\nwill\nWill\n";

TEST(EnglishDisplayText, WritesWhatWasSaidAsAPersonWritesIt) {
  const auto english = makeEnglishDisplayText(kWordList);
  const std::vector<std::pair<const char*, const char*>> cases = {
      // Capitals: the first word, I and its contractions, names, multi-word names.
      {"i'm going to paris in april", "I'm going to Paris in April"},
      {"what i'll say and i've said", "What I'll say and I've said"},
      {"see you monday's meeting in new york", "See you Monday's meeting in New York"},
      {"lunch at mcdonald with the hon", "Lunch at McDonald with the hon"},
      {"we may pay the bill in march", "We may pay the bill in march"},
      {"nasa and sept and jan", "Nasa and sept and jan"},
      // A month that is also a word, only where a day or a year makes it the month.
      {"we met in august two thousand and ten", "We met in August 2010"},
      {"the twenty third of march or the fifth of may", "The 23rd of March or the fifth of May"},
      {"the twentieth of march eleven eleven dollars", "The 20th of March 1111 dollars"},
      {"you may go as we march on in an august body",
       "You may go as we march on in an august body"},
      // Numbers from ten up; zero to nine and "a hundred" alone stay words.
      {"set a timer for twenty five minutes", "Set a timer for 25 minutes"},
      {"one hundred and twenty people", "120 people"},
      {"fifteen thousand steps", "15,000 steps"},
      {"two thousand and nine", "2009"},
      {"a hundred and twenty", "120"},
      {"one of them and no one else", "One of them and no one else"},
      {"about a hundred or a thousand", "About a hundred or a thousand"},
      {"ten green bottles", "10 green bottles"},
      {"one million two hundred thousand", "1,200,000"},
      // Digits read one by one, and pair forms out of place, stay as spoken.
      {"call five five five one two one two", "Call five five five one two one two"},
      {"my number is nine one one", "My number is nine one one"},
      {"set an alarm for seven thirty tomorrow", "Set an alarm for seven thirty tomorrow"},
      {"a hundred point zero twentieth", "A hundred point zero twentieth"},
      // Money and percent, even with small numbers.
      {"it costs twenty dollars", "It costs $20"},
      {"five dollars and fifty cents", "$5.50"},
      {"five dollars fifty", "$5.50"},
      {"one dollar and five cents", "$1.05"},
      {"fifty percent of five percent", "50% of 5%"},
      {"fifty cents", "50 cents"},
      {"i need a hundred dollars for a hundred people", "I need $100 for a hundred people"},
      {"a thousand dollars a million dollars a hundred percent", "$1000 $1,000,000 100%"},
      // a.m. and p.m. in every spelling the recognizer gives, after a time or an hour.
      {"remind me at three thirty p m", "Remind me at 3:30 PM"},
      {"wake me up at seven fifteen a m.", "Wake me up at 7:15 AM"},
      {"meet at five p.m.", "Meet at 5 PM"},
      {"nine oh five am", "9:05 AM"},
      {"ten pm", "10 PM"},
      {"i am here", "I am here"},
      // Times only after a word that asks for one.
      {"be there by nine oh five", "Be there by 9:05"},
      {"from eleven fifteen until twelve forty five", "From 11:15 until 12:45"},
      {"three thirty is fine", "Three thirty is fine"},
      {"at three o'clock", "At three o'clock"},
      // Years only after in, since, of ... or a month.
      {"born in nineteen eighty four", "Born in 1984"},
      {"since twenty twenty", "Since 2020"},
      {"april nineteen oh five", "April 1905"},
      {"nineteen eighty four was a book", "Nineteen eighty four was a book"},
      // Decades likewise, and a decade out of place stays whole.
      {"in the nineteen sixties and the late eighteen hundreds", "In the 1960s and the late 1800s"},
      {"nineteen sixties music", "Nineteen sixties music"},
      // Ordinals from tenth up; a month and its day.
      {"the twenty first century", "The 21st century"},
      {"first of all the tenth and the one hundred and third",
       "First of all the 10th and the 103rd"},
      {"on march third and may twenty second", "On March 3 and May 22"},
      {"july fourth nineteen seventy six", "July 4 1976"},
      // Decimals.
      {"two point five", "2.5"},
      {"zero point oh five percent", "0.05%"},
      // Left alone: to/too/two, for/four, spoken punctuation.
      {"two for you too four to go comma period", "Two for you too four to go comma period"},
      // White space is folded; nothing at all stays nothing.
      {"  hello   world ", "Hello world"},
      {"", ""},
  };
  for (const auto& [words, text] : cases) {
    EXPECT_EQ(english->format(words), text) << words;
    EXPECT_EQ(english->format(text), text) << "formatting again changed " << text;
  }
}

TEST(DisplayText, OtherLanguagesKeepTheirWordsAndAMissingListCostsOnlyNames) {
  EXPECT_EQ(makeDisplayText("fr-fr")->format(" vingt  cinq euros "), " vingt  cinq euros ");
  const auto noList = makeEnglishDisplayText("");
  EXPECT_EQ(noList->format("paris in april at three thirty p m"), "Paris in april at 3:30 PM");
}

}  // namespace
}  // namespace mic::testing
