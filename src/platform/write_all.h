#pragma once

#include <errno.h>
#include <poll.h>
#include <unistd.h>

#include <string_view>

namespace mic {

// Writes all of `bytes` to `fd` unbuffered, retrying interrupted and short writes and waiting for
// room on a non-blocking descriptor that is full. False when the descriptor fails before all is
// written, with errno saying why. Any thread.
inline bool writeAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      if (errno == EAGAIN || errno == EWOULDBLOCK) {
        // A reader that is behind: wait for room, as a blocking descriptor would, so nothing is
        // cut or lost.
        pollfd output{fd, POLLOUT, 0};
        if (::poll(&output, 1, -1) < 0 && errno != EINTR) return false;
        if (output.revents & POLLNVAL) {
          errno = EBADF;
          return false;
        }
        continue;
      }
      return false;
    }
    if (n == 0) {
      // Nothing taken and no error: retrying would spin.
      errno = EIO;
      return false;
    }
    bytes.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

}  // namespace mic
