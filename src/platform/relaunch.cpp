#include "platform/relaunch.h"

#include <errno.h>
#include <pthread.h>
#include <sys/wait.h>

namespace mic {

sigset_t forwardedSignals() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGHUP);
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
  // SIGCHLD may come ignored from whoever started the program, which would leave no child to wait
  // for.
  ::signal(SIGCHLD, SIG_DFL);
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
    return std::nullopt;
  }
  return child;
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
