#pragma once

#include <string>
#include <string_view>

namespace mic {

// `text` without leading and trailing white space and newlines: Unicode categories Zs, Zl and Zp,
// U+0009, U+000A to U+000D and U+0085. Inner characters are kept.
std::string trimmed(std::string_view text);

// Equality under Unicode canonical equivalence ("é" precomposed equals "e" + combining acute).
bool sameTranscription(std::string_view a, std::string_view b);

}  // namespace mic
