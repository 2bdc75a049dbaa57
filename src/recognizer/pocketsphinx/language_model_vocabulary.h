#pragma once

#include <string>

#include "platform/status.h"

// The vocabulary a binary trie language model ("Trie Language Model" header) ends in: a length,
// then exactly as many NUL-terminated words as it counts unigrams. The library reads those words
// without bounds, so a short file makes it read past its buffer. Only the header and the end of
// the file are read, not the model itself.
namespace mic::model_files {

// The words, each ended by a NUL; empty for a language model in another format (the library's to
// read). A failure names the file and its damage.
Result<std::string> languageModelVocabulary(const std::string& path);

}  // namespace mic::model_files
