#pragma once

// Word error rate: word-level edit distance between a reference and a hypothesis, case-insensitive,
// punctuation other than apostrophes ignored. Shared by the recognizer's tests and the benchmark.

#include <algorithm>
#include <cctype>
#include <sstream>
#include <string>
#include <vector>

namespace mic::testing {

inline std::vector<std::string> werWords(const std::string& text) {
  std::string cleaned;
  for (unsigned char c : text) {
    if (std::isalnum(c) || c == '\'') {
      cleaned += static_cast<char>(std::tolower(c));
    } else {
      cleaned += ' ';
    }
  }
  std::istringstream in(cleaned);
  std::vector<std::string> words;
  for (std::string word; in >> word;) words.push_back(word);
  return words;
}

// Substitutions + deletions + insertions needed to turn the reference into the hypothesis.
inline size_t wordErrors(const std::string& reference, const std::string& hypothesis) {
  const auto ref = werWords(reference);
  const auto hyp = werWords(hypothesis);
  std::vector<size_t> previous(hyp.size() + 1);
  std::vector<size_t> current(hyp.size() + 1);
  for (size_t j = 0; j <= hyp.size(); ++j) previous[j] = j;
  for (size_t i = 1; i <= ref.size(); ++i) {
    current[0] = i;
    for (size_t j = 1; j <= hyp.size(); ++j) {
      const size_t substitute = previous[j - 1] + (ref[i - 1] == hyp[j - 1] ? 0 : 1);
      current[j] = std::min({substitute, previous[j] + 1, current[j - 1] + 1});
    }
    std::swap(previous, current);
  }
  return previous[hyp.size()];
}

// Errors per reference word; a hypothesis against an empty reference counts each extra word.
inline double wordErrorRate(const std::string& reference, const std::string& hypothesis) {
  const size_t words = werWords(reference).size();
  const size_t errors = wordErrors(reference, hypothesis);
  return words ? static_cast<double>(errors) / static_cast<double>(words)
               : static_cast<double>(errors);
}

}  // namespace mic::testing
