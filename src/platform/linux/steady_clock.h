#pragma once

#include "platform/main_loop.h"

namespace mic {

// CLOCK_MONOTONIC through steady_clock, as the run loop's delays: a step of the time of day does
// not move it.
class SteadyClock : public MonotonicClock {
 public:
  double now() override;
};

}  // namespace mic
