#include "app/event_line.h"

#include <errno.h>
#include <poll.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>

namespace mic {
namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";  // U+FFFD

// Length of the valid UTF-8 sequence that starts at `i`, or 0 if the bytes there are not one.
// Rejects overlong forms, surrogates and code points above U+10FFFF.
size_t validSequenceLength(std::string_view s, size_t i) {
  const auto byte = [&](size_t k) { return static_cast<uint8_t>(s[k]); };
  const uint8_t b0 = byte(i);
  size_t length;
  uint8_t lo = 0x80, hi = 0xBF;  // allowed range of the second byte
  if (b0 < 0x80) return 1;
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    length = 2;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    length = 3;
    if (b0 == 0xE0) lo = 0xA0;
    if (b0 == 0xED) hi = 0x9F;
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    length = 4;
    if (b0 == 0xF0) lo = 0x90;
    if (b0 == 0xF4) hi = 0x8F;
  } else {
    return 0;
  }
  if (i + length > s.size()) return 0;
  if (byte(i + 1) < lo || byte(i + 1) > hi) return 0;
  for (size_t k = 2; k < length; ++k) {
    if ((byte(i + k) & 0xC0) != 0x80) return 0;
  }
  return length;
}

// Length of the maximal prefix of an invalid sequence at `i` that a decoder would consume before
// noticing the fault, so that each broken sequence becomes one U+FFFD (the usual practice).
size_t invalidSequenceLength(std::string_view s, size_t i) {
  const auto b0 = static_cast<uint8_t>(s[i]);
  size_t expected = b0 >= 0xF0 ? 4 : b0 >= 0xE0 ? 3 : b0 >= 0xC2 ? 2 : 1;
  if (expected == 1 || b0 > 0xF4) return 1;
  uint8_t lo = 0x80, hi = 0xBF;
  if (b0 == 0xE0) lo = 0xA0;
  if (b0 == 0xED) hi = 0x9F;
  if (b0 == 0xF0) lo = 0x90;
  if (b0 == 0xF4) hi = 0x8F;
  size_t k = 1;
  while (k < expected && i + k < s.size()) {
    const auto b = static_cast<uint8_t>(s[i + k]);
    if (k == 1 ? (b < lo || b > hi) : (b & 0xC0) != 0x80) break;
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

void writeAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      if (errno == EAGAIN || errno == EWOULDBLOCK) {
        // A non-blocking stdout whose reader is behind: wait for room, as a blocking one would,
        // so no line is cut or lost.
        pollfd output{fd, POLLOUT, 0};
        if (::poll(&output, 1, -1) < 0 && errno != EINTR) return;
        if (output.revents & POLLNVAL) return;
        continue;
      }
      return;
    }
    bytes.remove_prefix(static_cast<size_t>(n));
  }
}

void emit(std::string_view kind, std::string_view text) {
  writeAll(STDOUT_FILENO, formatEventLine({std::string(kind), std::string(text)}));
  std::fflush(stdout);
}

}  // namespace mic
