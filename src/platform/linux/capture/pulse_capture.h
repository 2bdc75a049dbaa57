#pragma once

#include <memory>

#include "platform/linux/capture/capture_source.h"
#include "platform/linux/capture/pulse_server.h"

namespace mic {

// Captures the server's default source through `server`'s connection; a move of the recording
// to another microphone goes on, a move to an output's monitor ends it.
std::unique_ptr<CaptureSource> makePulseCaptureSource(std::shared_ptr<PulseServer> server);

}  // namespace mic
