#include "platform/stop_requests.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>

namespace mic {
namespace {

constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};

// The self-pipe. Atomics, lock-free for int, so that the handler may read the write end on any
// thread.
std::atomic<int> signalRead{-1};
std::atomic<int> signalWrite{-1};
std::atomic<bool> caught[sizeof kStopSignals / sizeof kStopSignals[0]];

// Async-signal-safe: one write, which never blocks (the pipe is non-blocking; a full pipe already
// says enough), and errno as the interrupted code left it.
void onStopSignal(int) {
  const int saved = errno;
  const char byte = 1;
  [[maybe_unused]] const ssize_t written =
      ::write(signalWrite.load(std::memory_order_relaxed), &byte, 1);
  errno = saved;
}

bool setFlag(int fd, int get, int set, int flag) {
  const int flags = ::fcntl(fd, get);
  return flags != -1 && ::fcntl(fd, set, flags | flag) != -1;
}

}  // namespace

void catchStopSignals() {
  // pipe and fcntl rather than pipe2, which macOS lacks; nothing starts a process meanwhile.
  int ends[2];
  if (::pipe(ends) != 0) return;
  if (!setFlag(ends[0], F_GETFD, F_SETFD, FD_CLOEXEC) ||
      !setFlag(ends[1], F_GETFD, F_SETFD, FD_CLOEXEC) ||
      !setFlag(ends[1], F_GETFL, F_SETFL, O_NONBLOCK)) {
    ::close(ends[0]);
    ::close(ends[1]);
    return;
  }
  signalRead = ends[0];
  signalWrite = ends[1];

  struct sigaction action = {};
  action.sa_handler = onStopSignal;
  sigemptyset(&action.sa_mask);
  // Other threads' blocking calls go on as if nothing had happened, where the system allows.
  action.sa_flags = SA_RESTART;
  for (size_t i = 0; i < sizeof kStopSignals / sizeof kStopSignals[0]; ++i) {
    struct sigaction previous = {};
    if (::sigaction(kStopSignals[i], nullptr, &previous) != 0) continue;
    if (previous.sa_handler == SIG_IGN) continue;  // the caller's choice
    caught[i] = ::sigaction(kStopSignals[i], &action, nullptr) == 0;
  }
}

bool waitForStopRequest(int starter) {
  int signals = signalRead.load();
  for (;;) {
    pollfd watched[2];
    nfds_t count = 0;
    if (signals >= 0) watched[count++] = {signals, POLLIN, 0};
    if (starter >= 0) watched[count++] = {starter, POLLIN, 0};
    if (count == 0) return false;
    if (::poll(watched, count, -1) < 0) {
      if (errno == EINTR || errno == EAGAIN) continue;
      return false;
    }
    for (nfds_t i = 0; i < count; ++i) {
      if (watched[i].revents == 0) continue;
      const bool isStarter = watched[i].fd == starter;
      int& source = isStarter ? starter : signals;
      if (watched[i].revents & POLLNVAL) {
        source = -1;  // not open: nothing more to learn from it
        continue;
      }
      // Readable, or hung up (a pipe with no writer left polls as POLLHUP on Linux, and as
      // POLLIN, POLLHUP or both on the BSDs): the read says which.
      char chunk[64];
      const ssize_t got = ::read(source, chunk, sizeof chunk);
      if (got < 0 && (errno == EINTR || errno == EAGAIN)) continue;
      if (isStarter) {
        if (got == 0) return true;  // every write end closed: the starter is gone
        if (got < 0) source = -1;
        // Bytes on it mean nothing (nobody writes there): only its end counts.
      } else {
        if (got > 0) return true;  // a caught signal's byte
        source = -1;               // its write end is ours: this cannot end, short of a fault
      }
    }
  }
}

void releaseStopSignals() {
  for (size_t i = 0; i < sizeof kStopSignals / sizeof kStopSignals[0]; ++i) {
    if (caught[i].exchange(false)) ::signal(kStopSignals[i], SIG_DFL);
  }
}

}  // namespace mic
