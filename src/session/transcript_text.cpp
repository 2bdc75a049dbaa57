#include "session/transcript_text.h"

#include <utf8proc.h>

#include <cstdlib>
#include <optional>

namespace mic {
namespace {

bool isTrimmable(utf8proc_int32_t c) {
  if (c == 0x09 || (c >= 0x0A && c <= 0x0D) || c == 0x85) return true;
  const auto category = utf8proc_category(c);
  return category == UTF8PROC_CATEGORY_ZS || category == UTF8PROC_CATEGORY_ZL ||
         category == UTF8PROC_CATEGORY_ZP;
}

// Decodes the code point at `i`; returns its length, or 0 at an invalid sequence.
size_t decode(std::string_view s, size_t i, utf8proc_int32_t& c) {
  const auto n = utf8proc_iterate(reinterpret_cast<const utf8proc_uint8_t*>(s.data() + i),
                                  static_cast<utf8proc_ssize_t>(s.size() - i), &c);
  return n > 0 ? static_cast<size_t>(n) : 0;
}

// Start of the last code point that ends at `end`, found by stepping over continuation bytes.
size_t previousStart(std::string_view s, size_t end) {
  size_t i = end - 1;
  while (i > 0 && end - i < 4 && (static_cast<uint8_t>(s[i]) & 0xC0) == 0x80) --i;
  return i;
}

// The canonical composed form, or nothing when `s` is not valid UTF-8.
std::optional<std::string> nfc(std::string_view s) {
  utf8proc_uint8_t* out = nullptr;
  const auto n = utf8proc_map(reinterpret_cast<const utf8proc_uint8_t*>(s.data()),
                              static_cast<utf8proc_ssize_t>(s.size()), &out,
                              static_cast<utf8proc_option_t>(UTF8PROC_STABLE | UTF8PROC_COMPOSE));
  if (n < 0) return std::nullopt;
  std::string result(reinterpret_cast<const char*>(out), static_cast<size_t>(n));
  std::free(out);
  return result;
}

}  // namespace

std::string trimmed(std::string_view text) {
  size_t begin = 0;
  utf8proc_int32_t c;
  while (begin < text.size()) {
    const size_t n = decode(text, begin, c);
    if (n == 0 || !isTrimmable(c)) break;
    begin += n;
  }
  size_t end = text.size();
  while (end > begin) {
    const size_t start = previousStart(text, end);
    const size_t n = decode(text, start, c);
    if (n != end - start || !isTrimmable(c)) break;
    end = start;
  }
  return std::string(text.substr(begin, end - begin));
}

bool sameTranscription(std::string_view a, std::string_view b) {
  if (a == b) return true;
  const auto na = nfc(a);
  const auto nb = nfc(b);
  // Text that is not valid UTF-8 has no normal form; such text is only equal byte for byte.
  if (!na || !nb) return false;
  return *na == *nb;
}

}  // namespace mic
