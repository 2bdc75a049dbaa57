#include "recognizer/pocketsphinx/model_file_reader.h"

namespace mic::model_files {

std::optional<uint64_t> product(std::initializer_list<int64_t> factors) {
  uint64_t result = 1;
  for (int64_t f : factors) {
    if (f < 0) return std::nullopt;
    const auto factor = static_cast<uint64_t>(f);
    if (factor != 0 && result > kLargestFile / factor) return std::nullopt;
    result *= factor;
  }
  return result;
}

std::optional<int64_t> valueAfter(std::string_view text, std::string_view key) {
  if (text.substr(0, key.size()) != key) return std::nullopt;
  text.remove_prefix(key.size());
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  bool negative = false;
  if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }
  int64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9' || value > 1'000'000'000) break;
    value = value * 10 + (c - '0');
  }
  return negative ? -value : value;
}

Result<std::string> fileContents(const std::string& path) {
  return inFile(path, File(path).readAll());
}

}  // namespace mic::model_files
