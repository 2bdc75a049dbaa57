#pragma once

#include <cstddef>
#include <functional>
#include <initializer_list>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

// What the parts of English display text share: the hypothesis's words and the word tables.
namespace mic::english {

// Hashes a std::string or a string_view alike, so lookups need no copy of the word.
struct StringHash {
  using is_transparent = void;
  size_t operator()(std::string_view text) const { return std::hash<std::string_view>{}(text); }
};
template <typename Value>
using WordMap = std::unordered_map<std::string, Value, StringHash, std::equal_to<>>;

inline bool isOneOf(std::string_view word, std::initializer_list<std::string_view> list) {
  for (auto item : list) {
    if (word == item) return true;
  }
  return false;
}

// A hypothesis's words; past either end, an empty word, so the rules can look ahead freely.
class Words {
 public:
  explicit Words(const std::vector<std::string_view>& words) : words_(words) {}
  std::string_view operator[](size_t i) const {
    return i < words_.size() ? words_[i] : std::string_view();
  }
  size_t size() const { return words_.size(); }

 private:
  const std::vector<std::string_view>& words_;
};

}  // namespace mic::english
