#include "platform/apple/relaunch.h"

#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

extern char** environ;

namespace mic {
namespace {

// Never runs: SIGCHLD stays blocked until sigwait takes it. That it is there is what counts (see
// startWatchedChild).
void onChildSignal(int) {}

}  // namespace

sigset_t forwardedSignals() {
  sigset_t set;
  sigemptyset(&set);
  for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
    struct sigaction action = {};
    if (::sigaction(signal, nullptr, &action) == 0 && action.sa_handler == SIG_IGN) continue;
    sigaddset(&set, signal);
  }
  return set;
}

int superviseChild(ChildWatch& child) {
  for (;;) {
    const ChildWatch::Event event = child.next();
    switch (event.kind) {
      case ChildWatch::Event::Kind::signalReceived:
        child.signalChild(event.value);
        break;
      case ChildWatch::Event::Kind::childExited:
        return event.value;
      case ChildWatch::Event::Kind::childKilled:
        return 128 + event.value;
    }
  }
}

std::optional<pid_t> startWatchedChild(const char* path, char* const* argv, char* const* envp,
                                       const std::function<bool(posix_spawnattr_t*)>& prepare) {
  // xnu, like the BSDs, discards at once a signal whose action is to ignore it, blocked or not:
  // SIG_IGN, and SIG_DFL where the default is to ignore, as SIGCHLD's is. sigwait would then never
  // see the child end and the first process would wait for good (macOS sigwait(2): "Ignored
  // signals are dropped immediately"). Linux keeps a blocked signal pending either way. A handler
  // of our own, in place before the signal is blocked, keeps SIGCHLD out of the ignored set on
  // both; it also undoes a SIGCHLD the caller left ignored, which would leave no child to wait
  // for. The copy starts with SIGCHLD's default action again, as exec gives every caught signal.
  // The forwarded signals come here with SIG_DFL, which ends the process, so xnu keeps them
  // pending too; an ignored one is not waited for.
  struct sigaction childAction = {};
  childAction.sa_handler = onChildSignal;
  sigemptyset(&childAction.sa_mask);
  childAction.sa_flags = SA_RESTART;
  struct sigaction previousChildAction = {};
  ::sigaction(SIGCHLD, &childAction, &previousChildAction);
  sigset_t waited = forwardedSignals();
  sigaddset(&waited, SIGCHLD);
  sigset_t original;
  ::pthread_sigmask(SIG_BLOCK, &waited, &original);
  posix_spawnattr_t attributes;
  bool started = ::posix_spawnattr_init(&attributes) == 0;
  pid_t child = 0;
  if (started) {
    started = ::posix_spawnattr_setsigmask(&attributes, &original) == 0 &&
              ::posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK) == 0 &&
              (!prepare || prepare(&attributes)) &&
              ::posix_spawn(&child, path, nullptr, &attributes, argv, envp) == 0;
    ::posix_spawnattr_destroy(&attributes);
  }
  if (!started) {
    ::pthread_sigmask(SIG_SETMASK, &original, nullptr);
    ::sigaction(SIGCHLD, &previousChildAction, nullptr);
    return std::nullopt;
  }
  return child;
}

std::optional<int> superviseCopy(const char* path, char** argv,
                                 const std::function<bool(posix_spawnattr_t*)>& prepare) {
  // The copy's watch on this process. Only this process may hold the write end, or the copy
  // would never see its end: close-on-exec keeps it out of the copy (posix_spawn closes such
  // descriptors, on macOS as on Linux). The read end is left inheritable for the copy; nothing
  // else is started meanwhile, since no other thread exists yet.
  int link[2];
  if (::pipe(link) != 0) return std::nullopt;
  const int flags = ::fcntl(link[1], F_GETFD);
  const std::string readEnd = std::to_string(link[0]);
  if (flags == -1 || ::fcntl(link[1], F_SETFD, flags | FD_CLOEXEC) == -1 ||
      ::setenv(kRelaunchedMarker, readEnd.c_str(), 1) != 0) {
    ::close(link[0]);
    ::close(link[1]);
    return std::nullopt;
  }
  const std::optional<pid_t> child = startWatchedChild(path, argv, environ, prepare);
  ::close(link[0]);  // the copy's now
  if (!child) {
    ::close(link[1]);
    ::unsetenv(kRelaunchedMarker);  // runs as it would have without the copy
    return std::nullopt;
  }
  SignalChildWatch watch(*child);
  return superviseChild(watch);
}

int starterPipe() {
  const char* value = ::getenv(kRelaunchedMarker);
  if (value == nullptr || *value == '\0') return -1;
  int fd = 0;
  for (const char* c = value; *c != '\0'; ++c) {
    if (*c < '0' || *c > '9' || fd > 100000) return -1;
    fd = fd * 10 + (*c - '0');
  }
  struct stat info = {};
  if (fd <= STDERR_FILENO || ::fstat(fd, &info) != 0 || !S_ISFIFO(info.st_mode)) return -1;
  // Nothing the copy might start should hold it.
  const int flags = ::fcntl(fd, F_GETFD);
  if (flags != -1) ::fcntl(fd, F_SETFD, flags | FD_CLOEXEC);
  return fd;
}

ChildWatch::Event SignalChildWatch::next() {
  sigset_t waited = forwardedSignals();
  sigaddset(&waited, SIGCHLD);
  for (;;) {
    // The child may have ended before the first wait, or with its SIGCHLD merged into an earlier
    // one: look before waiting each time.
    int status = 0;
    const pid_t ended = ::waitpid(child_, &status, WNOHANG);
    if (ended == child_) {
      if (WIFSIGNALED(status)) return {Event::Kind::childKilled, WTERMSIG(status)};
      if (WIFEXITED(status)) return {Event::Kind::childExited, WEXITSTATUS(status)};
      continue;  // stopped or continued: still running
    }
    if (ended < 0 && errno != EINTR) return {Event::Kind::childExited, 1};  // no child to wait for
    int signal = 0;
    if (::sigwait(&waited, &signal) != 0) continue;
    if (signal != SIGCHLD) return {Event::Kind::signalReceived, signal};
  }
}

void SignalChildWatch::signalChild(int signal) { ::kill(child_, signal); }

}  // namespace mic
