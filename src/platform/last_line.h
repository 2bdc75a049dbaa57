#pragma once

#include <string>
#include <string_view>

namespace mic {

// Exactly one terminal line ("final" or "error"), last, even when a library ends the process on
// its own: sphinxbase's fatal errors and its allocators call exit(), libpulse raises SIGQUIT when
// memory runs out, a failed assertion aborts.

// The event writer's side of the output gate. Call before writing a line, with `terminal` for a
// "final" or "error" line; false means drop the line: a terminal line has gone out or is going out
// (from an ending or from the handlers below), and nothing may follow it. After a true, call
// `lineWritten` once the line is out. Any thread; lock-free, so that the handlers can share it.
bool admitLine(bool terminal);
void lineWritten();

// Turns an "error" line's text into the line's bytes (the event writer's formatting).
using ErrorLineFormat = std::string (*)(std::string_view text);

// Prepares the lines the handlers write and installs them: an exit handler (the program itself
// leaves through _exit, so only a library's exit() runs it) and handlers for SIGABRT and SIGQUIT
// that this process raised itself. Each writes an "error" line if no terminal line went out, then
// ends the process with status 1. A SIGABRT or SIGQUIT sent by another process (Ctrl-\ in a
// terminal, kill) keeps its default action. Call once, first thing in the process that does the
// work, before any library is loaded or any thread started.
void installLastLine(ErrorLineFormat format);

// What the "error" line says if a library now ends the process: its own last words, captured just
// before it does (sphinxbase logs its fatal error, then calls exit()). The first call wins: what
// follows the first fatal error is its consequence. Not for signal handlers; does nothing before
// installLastLine.
void setLastWords(std::string_view text);

}  // namespace mic
