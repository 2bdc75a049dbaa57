#include "platform/linux/steady_clock.h"

#include <chrono>

namespace mic {

double SteadyClock::now() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

}  // namespace mic
