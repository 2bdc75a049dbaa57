#include "platform/standard_streams.h"

#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

namespace mic {
namespace {

// Puts /dev/null, opened with `flags`, on `fd`. Without /dev/null (a bare chroot) `fd` stays as
// it was: nothing better is at hand.
void openNullOn(int fd, int flags) {
  const int opened = ::open("/dev/null", flags);
  if (opened < 0 || opened == fd) return;
  ::dup2(opened, fd);
  ::close(opened);
}

}  // namespace

void guardStandardStreams() {
  // In order: with the lower ones valid, a closed descriptor is the next one open() hands out.
  for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
    if (::fcntl(fd, F_GETFD) == -1 && errno == EBADF) {
      openNullOn(fd, fd == STDIN_FILENO ? O_RDONLY : O_WRONLY);
    }
  }
  openNullOn(STDERR_FILENO, O_WRONLY | O_CLOEXEC);  // dup2 leaves descriptor 2 itself inheritable
}

}  // namespace mic
