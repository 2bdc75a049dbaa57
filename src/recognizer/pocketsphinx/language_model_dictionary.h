#pragma once

#include <string>
#include <string_view>

#include "platform/status.h"

namespace mic {

// The lines of a pocketsphinx dictionary whose word (alternate pronunciations "word(2)" included)
// is one of `vocabulary`'s NUL-terminated words, ASCII case aside; lines without a word
// (blank, comments) are kept as they are. The search builds its tree only from words its language
// model knows, so what is dropped is read, hashed and given triphone tables at every load for
// nothing (with en-us, two entries in five: bench/README.md, "Dictionary"). Matching ignores case
// so that a word the library would find is never dropped.
std::string dictionaryForVocabulary(std::string_view dictionary, std::string_view vocabulary);

// That dictionary, for a model's dictionary and language model files, in a memory file the
// library opens by path like any other. A failure says why there is none: nothing to gain or no
// such file can be made (a language model that is not a trie, no memfd, no /proc); then the whole
// dictionary is loaded as before. `vocabulary`: the language model's words when the caller has
// them already (from checkModel); read from the file when empty.
class LanguageModelDictionary {
 public:
  static Result<LanguageModelDictionary> make(const std::string& dictionary,
                                              const std::string& languageModel,
                                              std::string_view vocabulary = {});
  LanguageModelDictionary(LanguageModelDictionary&& other) noexcept;
  LanguageModelDictionary& operator=(LanguageModelDictionary&&) = delete;
  ~LanguageModelDictionary();

  const std::string& path() const { return path_; }

 private:
  explicit LanguageModelDictionary(int fd);

  int fd_;
  std::string path_;
};

}  // namespace mic
