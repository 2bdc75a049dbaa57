#pragma once

#include <memory>

#include "platform/audio_input.h"
#include "platform/linux/capture/capture_source.h"

namespace mic {

// The microphone on Linux: the sound server's default source through libpulse, or the first
// recording sound card through ALSA when no server runs at all. The server refusing us access is
// what a denied microphone permission means here.
std::unique_ptr<AudioInputService> makeLinuxAudioInputService();

// The engine over whatever capture source `makeSource` makes, on its first need of one. A source
// with no format is no microphone: the node then reports {0, 0}.
std::unique_ptr<AudioEngine> makeLinuxAudioEngine(CaptureSourceFactory makeSource);

}  // namespace mic
