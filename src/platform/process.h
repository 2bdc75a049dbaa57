#pragma once

#include <functional>

namespace mic {

class Process {
 public:
  virtual ~Process() = default;
  // Blocks until standard input yields one line, reaches its end, or fails. The line is discarded.
  virtual void readLine() = 0;
  // Calls `handler` once, on a thread of the platform's, when the program is asked from outside
  // to stop: SIGINT, SIGTERM or SIGHUP (those the caller did not leave ignored; one that came
  // before this call counts too), or, for the copy of the program that macOS runs, the first
  // process that started it gone. Further requests call nothing. Call once.
  virtual void watchStopRequests(std::function<void()> handler) = 0;
  // Ends the process at once with `status`, without running static destructors under threads
  // that may still be running. The real one does not return; a recorded one in tests does.
  virtual void exit(int status) = 0;
};

}  // namespace mic
