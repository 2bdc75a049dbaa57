#pragma once

#include <signal.h>
#include <spawn.h>
#include <sys/types.h>

#include <functional>
#include <optional>

namespace mic {

// Set in the environment of the copy of the program that a first process started, so that the
// copy never starts another. Its value is the number of the descriptor starterPipe reads.
inline constexpr char kRelaunchedMarker[] = "MIC_TRANSCRIBER_RELAUNCHED";

// What a first process waits on: the copy it started, and the signals that ask it to end.
class ChildWatch {
 public:
  struct Event {
    enum class Kind {
      signalReceived,  // SIGINT, SIGTERM or SIGHUP came to the first process
      childExited,     // value: the child's exit status
      childKilled,     // value: the signal that ended the child
    };
    Kind kind;
    int value;
  };

  virtual ~ChildWatch() = default;
  // Blocks until one of the events.
  virtual Event next() = 0;
  virtual void signalChild(int signal) = 0;
};

// Waits for the child, passing the signals that ask the first process to end on to it. Returns the
// child's exit status, or for a child a signal ended, that signal's conventional status (128 plus
// its number), as a shell reports it.
int superviseChild(ChildWatch& child);

// The signals a first process passes on: SIGINT, SIGTERM and SIGHUP, less those it was started
// with ignored. Those stay ignored, in the copy too (it inherits them so), as the caller asked.
sigset_t forwardedSignals();

// Starts the child a SignalChildWatch waits for: gives SIGCHLD a handler of our own and blocks it
// and the forwarded signals in the calling thread first, so that none is lost before the wait,
// and starts `path` with the signal mask the caller had. `prepare` may add to the spawn's
// attributes, false when it cannot. Call it before any other thread exists. On failure the mask
// is as it was and nothing is returned.
std::optional<pid_t> startWatchedChild(const char* path, char* const* argv, char* const* envp,
                                       const std::function<bool(posix_spawnattr_t*)>& prepare);

// The first process's whole part: starts `path` as the copy, with kRelaunchedMarker naming the
// read end of a pipe whose write end only this process holds (close-on-exec, never closed: it
// goes when the process goes, however it ends), waits for the copy passing the forwarded signals
// on, and returns superviseChild's status. Nothing, with the environment as it was, when the copy
// could not be started.
std::optional<int> superviseCopy(const char* path, char** argv,
                                 const std::function<bool(posix_spawnattr_t*)>& prepare);

// The copy's part: the descriptor kRelaunchedMarker names, made close-on-exec, when it is a pipe
// (a copy started by hand with the marker names none); -1 otherwise. It reaches its end when the
// first process is gone: see waitForStopRequest.
int starterPipe();

// The real watch: sigwait on the forwarded signals and SIGCHLD, which startWatchedChild blocked.
class SignalChildWatch final : public ChildWatch {
 public:
  explicit SignalChildWatch(pid_t child) : child_(child) {}
  Event next() override;
  void signalChild(int signal) override;

 private:
  pid_t child_;
};

}  // namespace mic
