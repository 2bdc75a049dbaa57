#pragma once

#include "platform/process.h"

namespace mic {

class PosixProcess : public Process {
 public:
  void readLine() override;
  void watchStopRequests(std::function<void()> handler) override;
  [[noreturn]] void exit(int status) override;
};

}  // namespace mic
