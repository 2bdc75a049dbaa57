#pragma once

namespace mic {

// Run first thing in the process, before any library opens a file or speaks. Descriptors 0 to 2
// that the caller left closed are opened on /dev/null, keeping what the closed stream meant
// (standard input at its end, output going nowhere), so that no library's pipe or socket ever
// takes their place. Then standard error is pointed at /dev/null for good: the program writes
// nothing there itself, so whatever a linked library, the C++ runtime or the C library would say
// there (configuration complaints, terminate messages, fatal diagnostics) is never seen. On macOS
// that includes Core Foundation's copy of every NSLog line, which goes to standard error whenever
// it is a terminal, file or pipe; there it runs in the first process, before the copy of the
// program is started, so that the copy inherits the guarded streams.
void guardStandardStreams();

}  // namespace mic
