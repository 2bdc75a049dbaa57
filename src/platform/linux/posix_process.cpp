#include "platform/linux/posix_process.h"

#include <errno.h>
#include <unistd.h>

#include <cstdio>

namespace mic {

void PosixProcess::readLine() {
  // Byte by byte, straight from the descriptor: nothing is read past the line, and a closed or
  // failing stdin ends the read like a line does.
  char c;
  for (;;) {
    const ssize_t n = ::read(STDIN_FILENO, &c, 1);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0 || c == '\n') return;
  }
}

void PosixProcess::exit(int status) {
  std::fflush(stdout);
  // Other threads (capture, recognizer, stdin reader) may still run: no static destructors.
  ::_exit(status);
}

}  // namespace mic
