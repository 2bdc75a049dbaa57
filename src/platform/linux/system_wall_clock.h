#pragma once

#include "platform/main_loop.h"

namespace mic {

// The system's real-time clock: a transcript's last change is measured on it.
class SystemWallClock : public WallClock {
 public:
  double now() override;
};

}  // namespace mic
