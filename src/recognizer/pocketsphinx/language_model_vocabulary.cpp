#include "recognizer/pocketsphinx/language_model_vocabulary.h"

#include <string_view>

#include "recognizer/pocketsphinx/model_file_reader.h"

namespace mic::model_files {
namespace {

// The trie model's vocabulary: its NUL-terminated words, as they end the file; "" for a model in
// another format.
Result<std::string> vocabularyIn(const std::string& path) {
  static constexpr std::string_view kTrieHeader = "Trie Language Model";
  const File file(path);
  const auto header = file.read(0, std::min<uint64_t>(file.size(), kTrieHeader.size() + 1));
  if (!header) return header.status();
  if (!std::string_view(*header).starts_with(kTrieHeader)) return std::string();
  if (header->size() <= kTrieHeader.size()) return damage(kShort);
  const auto order = static_cast<uint8_t>((*header)[kTrieHeader.size()]);
  if (order == 0) return damage("counts out of range");
  const uint64_t countsAt = kTrieHeader.size() + 1;
  const auto counts = file.read(countsAt, uint64_t{order} * 4);
  if (!counts) return counts.status();
  uint32_t words;
  std::memcpy(&words, counts->data(), 4);
  const uint64_t bodyStart = countsAt + uint64_t{order} * 4;
  if (words == 0) return damage("counts out of range");
  const Status cut = damage("cut short: fewer words than it counts");
  if (file.size() < bodyStart + 4 + 2ull * words) return cut;

  // Walk back from the end over `words` NUL-terminated words, in blocks so that only the
  // vocabulary (about 1 MB for en-us) is read.
  constexpr uint64_t kBlock = 1 << 20;
  std::string tail;  // the file's last tail.size() bytes
  uint64_t seen = 0;
  uint64_t scanned = 0;                     // bytes of `tail`, from its end, already counted
  size_t firstWordEnd = std::string::npos;  // index in `tail` of the first word's NUL
  while (firstWordEnd == std::string::npos) {
    if (tail.size() == file.size() - bodyStart) return cut;
    const uint64_t grow = std::min(kBlock, file.size() - bodyStart - tail.size());
    const auto block = file.read(file.size() - tail.size() - grow, grow);
    if (!block) return block.status();
    tail.insert(0, *block);
    if (tail.back() != '\0') return damage("cut short in a word");
    for (uint64_t i = tail.size() - scanned; i-- > 0;) {
      if (tail[i] == '\0' && ++seen == words) {
        firstWordEnd = i;
        break;
      }
    }
    scanned = tail.size();
  }
  // The first word starts somewhere before its NUL, right after the vocabulary's byte length:
  // make sure the bytes that can hold those are read too.
  constexpr size_t kLongestWord = 1024;
  if (firstWordEnd < kLongestWord + 4 && tail.size() < file.size() - bodyStart) {
    const uint64_t grow =
        std::min<uint64_t>(kLongestWord + 4, file.size() - bodyStart - tail.size());
    const auto block = file.read(file.size() - tail.size() - grow, grow);
    if (!block) return block.status();
    tail.insert(0, *block);
    firstWordEnd += grow;
  }
  for (size_t start = firstWordEnd; start >= 4 && firstWordEnd - start < kLongestWord; --start) {
    if (start < firstWordEnd && tail[start] == '\0') break;
    int32_t length;
    std::memcpy(&length, tail.data() + start - 4, 4);
    if (length > 0 && static_cast<uint64_t>(length) == tail.size() - start) {
      tail.erase(0, start);
      return tail;
    }
  }
  return damage("vocabulary length does not match its words");
}

}  // namespace

Result<std::string> languageModelVocabulary(const std::string& path) {
  return inFile(path, vocabularyIn(path));
}

}  // namespace mic::model_files
