// A trie language model that does not end in all its words: the check must turn it down, since
// the library reads them without bounds.

#include "recognizer/pocketsphinx/language_model_vocabulary.h"

#include <gtest/gtest.h>

#include "recognizer/pocketsphinx/model_fixture.h"

namespace mic {
namespace {

namespace fx = model_fixture;
namespace mf = model_files;
using LanguageModelVocabulary = fx::TempDir;

// A trie language model: header, order, counts, a body, then the vocabulary's length and words.
std::string trieModel(uint32_t unigrams, const std::string& body, const std::string& vocabulary,
                      int32_t vocabularyLength) {
  std::string out = "Trie Language Model";
  out += static_cast<char>(1);
  out.append(reinterpret_cast<const char*>(&unigrams), 4);
  out += body;
  out.append(reinterpret_cast<const char*>(&vocabularyLength), 4);
  return out + vocabulary;
}

TEST_F(LanguageModelVocabulary, ALanguageModelMustEndInAllItsWords) {
  const std::string words("<s>\0</s>\0hello\0", 15);
  const std::string body(40, '\x7f');
  const auto vocabulary = [&](const std::string& name, const std::string& content) {
    return mf::languageModelVocabulary(file(name, content));
  };
  const auto ok = vocabulary("ok.lm.bin", trieModel(3, body, words, 15));
  ASSERT_TRUE(ok) << ok.status().message();
  EXPECT_EQ(*ok, words);
  // A body that happens to hold zero bytes right before the length changes nothing.
  const auto zeros = vocabulary("zeros.lm.bin", trieModel(3, std::string(40, '\0'), words, 15));
  ASSERT_TRUE(zeros) << zeros.status().message();
  EXPECT_EQ(*zeros, words);
  EXPECT_FALSE(vocabulary("few.lm.bin", trieModel(4, body, words, 15)));
  EXPECT_FALSE(vocabulary("length.lm.bin", trieModel(3, body, words, 16)));
  EXPECT_FALSE(vocabulary("cut.lm.bin", trieModel(3, body, words, 15).substr(0, 60)));
  EXPECT_EQ(vocabulary("header.lm.bin", "Trie Language Model").status().message(),
            (root_ / "header.lm.bin").string() + ": cut short");
  // Other formats are the library's to read: no words, and no failure.
  const auto arpa = vocabulary("arpa.lm", "\\data\\\nngram 1=1\n");
  ASSERT_TRUE(arpa) << arpa.status().message();
  EXPECT_EQ(*arpa, "");
}

}  // namespace
}  // namespace mic
