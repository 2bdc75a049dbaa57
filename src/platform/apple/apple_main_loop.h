#pragma once

#include <memory>

#include "platform/main_loop.h"

namespace mic {

// The system's main queue and main run loop, where the Speech framework delivers too.
std::unique_ptr<MainLoop> makeAppleMainLoop();

std::unique_ptr<MonotonicClock> makeAppleMonotonicClock();

}  // namespace mic
