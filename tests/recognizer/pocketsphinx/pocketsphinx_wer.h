#pragma once

// Word error rate for the recognizer's tests: the definition stated with word_error_rate in
// tests/e2e/harness.py, which the end-to-end tests and the benchmark use, computed the same way.

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

// Errors per reference word (per one word when the reference has none).
inline double wordErrorRate(const std::string& reference, const std::string& hypothesis) {
  const size_t words = std::max<size_t>(werWords(reference).size(), 1);
  return static_cast<double>(wordErrors(reference, hypothesis)) / static_cast<double>(words);
}

}  // namespace mic::testing
