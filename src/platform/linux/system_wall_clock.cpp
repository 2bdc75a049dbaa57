#include "platform/linux/system_wall_clock.h"

#include <chrono>

namespace mic {

double SystemWallClock::now() {
  return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
}

}  // namespace mic
