#include "platform/apple/apple_process.h"

#include <dispatch/dispatch.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <functional>

#include "platform/apple/relaunch.h"
#include "platform/stop_requests.h"

namespace mic {
namespace {

class AppleProcess final : public Process {
 public:
  // Straight from descriptor 0, without stdio's buffer: only the arrival of a line or the end of
  // input matters, and whatever follows the line is never needed.
  void readLine() override {
    char chunk[256];
    for (;;) {
      const ssize_t count = ::read(STDIN_FILENO, chunk, sizeof chunk);
      if (count > 0) {
        if (std::memchr(chunk, '\n', static_cast<size_t>(count)) != nullptr) return;
        continue;
      }
      if (count < 0 && errno == EINTR) continue;
      return;  // end of input, or a failure that counts as one
    }
  }

  // The signals, and the first process that started this copy (none when the program runs as
  // itself): killed outright, it leaves the copy nobody to answer to. The watch blocks a worker
  // thread for good, as the standard-input reader does.
  void watchStopRequests(std::function<void()> handler) override {
    const int starter = starterPipe();
    dispatch_async(dispatch_get_global_queue(QOS_CLASS_USER_INITIATED, 0), ^{
      if (waitForStopRequest(starter)) {
        handler();
      } else {
        releaseStopSignals();
      }
    });
  }

  // Lines are written unbuffered already; the flush is for anything stdio still holds. _exit
  // skips static destructors, which would run under the framework's threads.
  [[noreturn]] void exit(int status) override {
    std::fflush(nullptr);
    ::_exit(status);
  }
};

}  // namespace

std::unique_ptr<Process> makeAppleProcess() { return std::make_unique<AppleProcess>(); }

}  // namespace mic
