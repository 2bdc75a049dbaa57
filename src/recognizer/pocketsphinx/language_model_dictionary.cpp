#include "recognizer/pocketsphinx/language_model_dictionary.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <unordered_set>
#include <utility>

#include "platform/write_all.h"
#include "recognizer/pocketsphinx/language_model_vocabulary.h"
#include "recognizer/pocketsphinx/model_file_reader.h"

namespace mic {
namespace {

char lowered(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// Words compared and hashed ignoring ASCII case, without making lowered copies: the dictionary is
// 135 000 lines, and this runs at every load.
struct CaselessHash {
  size_t operator()(std::string_view word) const {
    uint64_t hash = 14695981039346656037ull;  // FNV-1a
    for (char c : word) hash = (hash ^ static_cast<unsigned char>(lowered(c))) * 1099511628211ull;
    return static_cast<size_t>(hash);
  }
};
struct CaselessEqual {
  bool operator()(std::string_view a, std::string_view b) const {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
             return lowered(x) == lowered(y);
           });
  }
};

// As the library reads an entry: the word runs to the first blank, and "word(2)" is another
// pronunciation of "word".
std::string_view wordOf(std::string_view line) {
  size_t length = 0;
  while (length < line.size() && line[length] != ' ' && line[length] != '\t' &&
         line[length] != '\r' && line[length] != '\n') {
    ++length;
  }
  std::string_view word = line.substr(0, length);
  if (word.size() > 1 && word.back() == ')') {
    const size_t open = word.rfind('(');
    if (open != std::string_view::npos && open > 0) word = word.substr(0, open);
  }
  return word;
}

}  // namespace

std::string dictionaryForVocabulary(std::string_view dictionary, std::string_view vocabulary) {
  std::unordered_set<std::string_view, CaselessHash, CaselessEqual> known;
  known.reserve(static_cast<size_t>(std::count(vocabulary.begin(), vocabulary.end(), '\0')) + 1);
  for (std::string_view rest = vocabulary; !rest.empty();) {
    const size_t end = rest.find('\0');
    known.insert(rest.substr(0, end));
    if (end == std::string_view::npos) break;
    rest.remove_prefix(end + 1);
  }
  std::string kept;
  kept.reserve(dictionary.size());
  while (!dictionary.empty()) {
    const size_t end = dictionary.find('\n');
    const std::string_view line =
        dictionary.substr(0, end == std::string_view::npos ? dictionary.size() : end + 1);
    dictionary.remove_prefix(line.size());
    const std::string_view word = wordOf(line);
    if (word.empty() || word.front() == '#' || known.count(word)) kept += line;
  }
  return kept;
}

Result<LanguageModelDictionary> LanguageModelDictionary::make(const std::string& dictionary,
                                                              const std::string& languageModel,
                                                              std::string_view vocabulary) {
  Result<std::string> read = std::string();
  if (vocabulary.empty()) {
    read = model_files::languageModelVocabulary(languageModel);
    if (!read) return read.status();
    vocabulary = *read;
  }
  if (vocabulary.empty()) {
    return Status::failure(languageModel + ": not a trie language model, so its words are unknown");
  }
  const auto text = model_files::fileContents(dictionary);
  if (!text) return text.status();
  const int fd = ::memfd_create("dictionary", MFD_CLOEXEC);
  if (fd < 0) return Status::failure(std::string("no memory file: ") + std::strerror(errno));
  LanguageModelDictionary made(fd);
  if (!writeAll(fd, dictionaryForVocabulary(*text, vocabulary))) {
    return Status::failure(std::string("memory file not written: ") + std::strerror(errno));
  }
  if (::access(made.path().c_str(), R_OK) != 0) {
    return Status::failure(made.path() + ": " + std::strerror(errno));
  }
  return made;
}

LanguageModelDictionary::LanguageModelDictionary(int fd)
    : fd_(fd), path_("/proc/self/fd/" + std::to_string(fd)) {}

LanguageModelDictionary::LanguageModelDictionary(LanguageModelDictionary&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), path_(std::move(other.path_)) {}

LanguageModelDictionary::~LanguageModelDictionary() {
  if (fd_ >= 0) ::close(fd_);
}

}  // namespace mic
