#pragma once

#include <memory>

#include "platform/audio_input.h"

namespace mic {

// The microphone on Linux: the sound server's default source through libpulse, or the first
// recording sound card through ALSA when no server runs at all. The server refusing us access is
// what a denied microphone permission means here.
std::unique_ptr<AudioInputService> makeLinuxAudioInputService();

}  // namespace mic
