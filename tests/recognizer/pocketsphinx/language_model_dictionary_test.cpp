#include "recognizer/pocketsphinx/language_model_dictionary.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>

namespace mic {
namespace {

using namespace std::string_literals;

// Every entry the search could use survives: alternate pronunciations, another case, a word whose
// only blank is a tab, lines without a word; only words the language model lacks go.
TEST(LanguageModelDictionaryTest, KeepsEveryEntryOfAKnownWordAndOnlyThose) {
  const std::string vocabulary = "<s>\0</s>\0hello\0World\0it's\0"s;
  const std::string dictionary =
      "## a comment\n"
      "hello HH AH L OW\n"
      "hello(2) HH EH L OW\n"
      "helloo HH AH L UW\n"
      "world W ER L D\n"
      "\n"
      "IT'S\tIH T S\r\n"
      "xyzzy(2) Z IH Z IY\n"
      "(2) T UW\n"
      "it's(x) IH T S";
  EXPECT_EQ(dictionaryForVocabulary(dictionary, vocabulary),
            "## a comment\n"
            "hello HH AH L OW\n"
            "hello(2) HH EH L OW\n"
            "world W ER L D\n"
            "\n"
            "IT'S\tIH T S\r\n"
            "it's(x) IH T S");
}

// The installed model gets its smaller dictionary through a path the library can open (were the
// memory file not readable there, every load would quietly take the whole dictionary again); a
// language model in another format gets none, and says why.
TEST(LanguageModelDictionaryTest, InstalledModelGetsAFileOfItsWordsOnly) {
  const std::string model = MIC_POCKETSPHINX_MODEL_DIR "/en-us/";
  if (!std::ifstream(model + "en-us.lm.bin")) GTEST_SKIP() << "no en-us model in " << model;
  const auto made =
      LanguageModelDictionary::make(model + "cmudict-en-us.dict", model + "en-us.lm.bin");
  ASSERT_TRUE(made) << made.status().message();
  std::ifstream in(made->path());
  size_t lines = 0;
  bool kitchen = false;
  for (std::string line; std::getline(in, line); ++lines)
    kitchen = kitchen || line.starts_with("kitchen ");
  EXPECT_TRUE(kitchen);
  EXPECT_GT(lines, 70000u);
  EXPECT_LT(lines, 90000u);  // of 134 723

  char dir[] = "/tmp/mic-lmdict-XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  const std::string arpa = std::string(dir) + "/model.lm";
  std::ofstream(arpa) << "\\data\\\nngram 1=1\n\n\\1-grams:\n-1.0 hello\n\n\\end\\\n";
  const auto none = LanguageModelDictionary::make(model + "cmudict-en-us.dict", arpa);
  EXPECT_FALSE(none);
  EXPECT_EQ(none.status().message(),
            arpa + ": not a trie language model, so its words are unknown");
  std::remove(arpa.c_str());
  rmdir(dir);
}

}  // namespace
}  // namespace mic
