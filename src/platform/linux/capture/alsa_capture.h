#pragma once

#include <memory>
#include <string>

#include "platform/linux/capture/capture_source.h"

namespace mic {

// Captures straight from ALSA, for systems where no sound server runs. With an empty `device`
// the first sound card that can record is used, opened through "plughw" so the sample format is
// converted but never through the `default` device, which may lead back into a sound server.
// ALSA's own messages are silenced.
std::unique_ptr<CaptureSource> makeAlsaCaptureSource(std::string device = {});

}  // namespace mic
