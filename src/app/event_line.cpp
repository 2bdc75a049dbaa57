#include "app/event_line.h"

#include <unistd.h>
#include <utf8proc.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>

#include "platform/last_line.h"
#include "platform/write_all.h"

namespace mic {
namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";  // U+FFFD

const utf8proc_uint8_t* bytesAt(std::string_view s, size_t i) {
  return reinterpret_cast<const utf8proc_uint8_t*>(s.data() + i);
}

// Length of the valid UTF-8 sequence that starts at `i`, or 0 if the bytes there are not one
// (overlong forms, surrogates and code points above U+10FFFF are not).
size_t validSequenceLength(std::string_view s, size_t i) {
  utf8proc_int32_t c;
  const auto n = utf8proc_iterate(bytesAt(s, i), static_cast<utf8proc_ssize_t>(s.size() - i), &c);
  return n > 0 ? static_cast<size_t>(n) : 0;
}

// How many bytes of an invalid sequence at `i` one U+FFFD replaces: the longest start of a
// well-formed sequence found there, at least one byte (the usual practice). A start of k bytes is
// well-formed when some continuation completes it; past the second byte any continuation byte
// will do, so completing it with 0x80 bytes and asking utf8proc tells.
size_t invalidSequenceLength(std::string_view s, size_t i) {
  const auto expected = static_cast<size_t>(std::max<int>(utf8proc_utf8class[bytesAt(s, i)[0]], 1));
  size_t k = 1;
  while (k < expected && i + k < s.size()) {
    utf8proc_uint8_t probe[4] = {0x80, 0x80, 0x80, 0x80};
    std::copy_n(bytesAt(s, i), k + 1, probe);
    utf8proc_int32_t c;
    if (utf8proc_iterate(probe, static_cast<utf8proc_ssize_t>(expected), &c) < 0) break;
    ++k;
  }
  return k;
}

void appendJsonString(std::string& out, std::string_view s) {
  static constexpr char kHex[] = "0123456789abcdef";
  out += '"';
  size_t i = 0;
  while (i < s.size()) {
    const char c = s[i];
    const auto u = static_cast<uint8_t>(c);
    if (u >= 0x80) {
      const size_t n = validSequenceLength(s, i);
      if (n == 0) {
        out += kReplacement;
        i += invalidSequenceLength(s, i);
      } else {
        out.append(s.substr(i, n));
        i += n;
      }
      continue;
    }
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '/':
        out += "\\/";
        break;
      case '\b':
        out += "\\b";
        break;
      case '\f':
        out += "\\f";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (u < 0x20) {
          out += "\\u00";
          out += kHex[u >> 4];
          out += kHex[u & 0xF];
        } else {
          out += c;
        }
    }
    ++i;
  }
  out += '"';
}

}  // namespace

std::string formatEventLine(const EventLine& event) {
  std::string line;
  line.reserve(24 + event.kind.size() + event.text.size() + event.text.size() / 8);
  line += "{\"kind\":";
  appendJsonString(line, event.kind);
  line += ",\"text\":";
  appendJsonString(line, event.text);
  line += "}\n";
  return line;
}

void emit(std::string_view kind, std::string_view text) {
  const std::string line = formatEventLine({std::string(kind), std::string(text)});
  // One terminal line and nothing after it, whoever writes it: an ending here, or the last-line
  // handlers when a library ends the process.
  if (!admitLine(kind == "final" || kind == "error")) return;
  // A standard output that fails leaves nowhere to say so.
  (void)writeAll(STDOUT_FILENO, line);
  lineWritten();
  std::fflush(stdout);
}

}  // namespace mic
