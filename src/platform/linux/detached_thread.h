#pragma once

#include <functional>

#include "platform/status.h"

namespace mic {

// Runs `work` once on a new detached thread that owns it; the thread may stay blocked until the
// process exits. A machine out of threads or memory is a failure with the system's reason, never
// an exception. Nothing `work` throws leaves its thread: whatever a worker could not turn into a
// failure of its own ends with the work, so no exception reaches std::terminate.
Status startDetachedThread(std::function<void()> work);

// Every thread made from now on without a stack size of its own (ours, libpulse's) gets a stack
// sized to what these threads use, under a sanitizer too, with a wide margin (bench/README.md,
// "Address space"), instead of the 8 MiB of address space each would take by default. Before any
// thread starts.
void useSmallThreadStacks();

}  // namespace mic
