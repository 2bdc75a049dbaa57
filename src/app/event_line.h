#pragma once

#include <string>
#include <string_view>

namespace mic {

// One output record: {"kind":…,"text":…} on a line of its own.
struct EventLine {
  std::string kind;
  std::string text;
};

// The exact bytes of the line for `event`, line feed included. Compact JSON; quotation mark,
// reverse solidus, solidus and control characters escaped; other characters as raw UTF-8. Bytes
// that are not valid UTF-8 become U+FFFD, so no event (above all the last one) is ever lost.
std::string formatEventLine(const EventLine& event);

// The one way events leave the program: one line, one write to standard output, then a flush of
// `stdout`. Main thread only, so lines never interleave. Once a "final" or "error" line has gone
// out (or a library ending the process wrote its "error" line, see platform/last_line.h), nothing
// more is written.
void emit(std::string_view kind, std::string_view text);

}  // namespace mic
