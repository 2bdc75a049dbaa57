#include "platform/linux/posix_process.h"

#include <errno.h>
#include <poll.h>
#include <unistd.h>

#include <cstdio>

namespace mic {

void PosixProcess::readLine() {
  // Byte by byte, straight from the descriptor: nothing is read past the line, and a closed or
  // failing stdin ends the read like a line does. A non-blocking stdin (the caller's flag, shared
  // with it, so left alone) has simply no line yet: wait until there is something to read.
  char c;
  for (;;) {
    const ssize_t n = ::read(STDIN_FILENO, &c, 1);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      pollfd input{STDIN_FILENO, POLLIN, 0};
      // Readable, hung up or failed: the next read says which.
      if (::poll(&input, 1, -1) < 0 && errno != EINTR) return;
      if (input.revents & POLLNVAL) return;
      continue;
    }
    if (n <= 0 || c == '\n') return;
  }
}

void PosixProcess::exit(int status) {
  std::fflush(stdout);
  // Other threads (capture, recognizer, stdin reader) may still run: no static destructors.
  ::_exit(status);
}

}  // namespace mic
