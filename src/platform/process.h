#pragma once

namespace mic {

class Process {
 public:
  virtual ~Process() = default;
  // Blocks until standard input yields one line, reaches its end, or fails. The line is discarded.
  virtual void readLine() = 0;
  // Ends the process at once with `status`, without running static destructors under threads
  // that may still be running. The real one does not return; a recorded one in tests does.
  virtual void exit(int status) = 0;
};

}  // namespace mic
