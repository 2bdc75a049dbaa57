#include "platform/linux/posix_process.h"

#include <errno.h>
#include <poll.h>
#include <unistd.h>

#include <cstdio>
#include <utility>

#include "platform/linux/detached_thread.h"
#include "platform/stop_requests.h"

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

// Linux starts no copy of the program: only the signals are watched. Without a thread to watch
// them, they end the process as they would by default, rather than do nothing.
void PosixProcess::watchStopRequests(std::function<void()> handler) {
  const Status started = startDetachedThread([handler = std::move(handler)] {
    if (waitForStopRequest(-1)) {
      handler();
    } else {
      releaseStopSignals();
    }
  });
  if (!started.ok()) releaseStopSignals();
}

void PosixProcess::exit(int status) {
  std::fflush(stdout);
  // Other threads (capture, recognizer, stdin reader) may still run: no static destructors.
  ::_exit(status);
}

}  // namespace mic
