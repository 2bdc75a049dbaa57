#include "platform/apple/recognition_errors.h"

#include <algorithm>
#include <array>

namespace mic {

namespace {

struct ErrorKind {
  std::string_view domain;
  long code;
};

// Matched exactly: another code of the same domain (203, a failure during recognition; 1101, an
// error reaching the on-device recognition service) is a failure, reported as it is.
constexpr std::array kNoSpeechErrors = {
    ErrorKind{"kAFAssistantErrorDomain", 1110},
};

}  // namespace

bool isNoSpeechError(std::string_view domain, long code) {
  return std::ranges::any_of(kNoSpeechErrors, [&](const ErrorKind& kind) {
    return kind.domain == domain && kind.code == code;
  });
}

}  // namespace mic
