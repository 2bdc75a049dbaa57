// libFuzzer target for the event writer: whatever bytes a recognizer or platform hands it, the line
// is exactly one line of JSON that a strict parser reads back to the same kind and text, with only
// invalid UTF-8 replaced.
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>

#include "app/event_line.h"

namespace {

// Valid UTF-8 sequences of `s` with every invalid byte and every U+FFFD left out: what must survive
// the writer unchanged, in order.
std::string validContent(std::string_view s) {
  std::string out;
  size_t i = 0;
  while (i < s.size()) {
    const auto b = static_cast<unsigned char>(s[i]);
    size_t n = b < 0x80                   ? 1
               : (b >= 0xC2 && b <= 0xDF) ? 2
               : (b >= 0xE0 && b <= 0xEF) ? 3
               : (b >= 0xF0 && b <= 0xF4) ? 4
                                          : 0;
    bool ok = n > 0 && i + n <= s.size();
    for (size_t k = 1; ok && k < n; ++k) ok = (static_cast<unsigned char>(s[i + k]) & 0xC0) == 0x80;
    if (ok && n >= 3) {
      const auto b1 = static_cast<unsigned char>(s[i + 1]);
      if ((b == 0xE0 && b1 < 0xA0) || (b == 0xED && b1 > 0x9F) || (b == 0xF0 && b1 < 0x90) ||
          (b == 0xF4 && b1 > 0x8F))
        ok = false;
    }
    if (!ok) {
      ++i;
      continue;
    }
    if (s.substr(i, n) != "\xEF\xBF\xBD") out.append(s.substr(i, n));
    i += n;
  }
  return out;
}

std::string withoutReplacements(std::string s) {
  for (size_t p; (p = s.find("\xEF\xBF\xBD")) != std::string::npos;) s.erase(p, 3);
  return s;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const char* const kKinds[] = {"status", "partial", "final", "error"};
  if (size == 0) return 0;
  const std::string kind = kKinds[data[0] % 4];
  const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);

  const std::string line = mic::formatEventLine({kind, text});
  if (line.empty() || line.back() != '\n' || line.find('\n') != line.size() - 1 ||
      line.find('\r') != std::string::npos)
    __builtin_trap();
  const auto json = nlohmann::json::parse(line);  // throws (and so fails) on anything invalid
  if (!json.is_object() || json.size() != 2) __builtin_trap();
  if (json.at("kind").get<std::string>() != kind) __builtin_trap();
  const auto parsed = json.at("text").get<std::string>();
  if (validContent(text) == text) {
    if (parsed != text) __builtin_trap();
  } else if (withoutReplacements(parsed) != validContent(text)) {
    __builtin_trap();
  }
  return 0;
}
