#include "platform/relaunch.h"

#include <errno.h>
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
