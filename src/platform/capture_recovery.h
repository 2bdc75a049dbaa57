#pragma once

#include <atomic>
#include <cstdint>

#include "platform/audio_input.h"

namespace mic {

// What an engine that stops itself when the audio hardware changes (a headset switching profile
// as its microphone opens, headphones plugged in, another default device) does about it: capture
// goes on in the input's new format, with the same tap, so nothing already heard is lost. It ends
// only when there is no usable input, the engine will not start again, or restarts keep producing
// no audio.
class CaptureRecovery {
 public:
  // Restarts in a row that may bring no audio before capture counts as gone.
  static constexpr int kMaxRestartsWithoutAudio = 3;

  // The tap to install again, as the session installed it.
  struct Tap {
    uint32_t bus = 0;
    uint32_t bufferSize = 0;
    AudioTapBlock block;
  };

  enum class Outcome {
    unchanged,  // still running, or not capturing any more: nothing to do
    restarted,  // capturing again, in the input's current format
    ended,      // capture is over: the caller ends it as a vanished microphone does
  };

  // Main thread, after the engine said its configuration changed. `capturing`: whether capture
  // that start() began is still wanted (the session has not stopped it). `tap` is the caller's
  // own: the node's record of it goes when the tap is taken out.
  Outcome onConfigurationChange(AudioEngine& engine, const Tap& tap, bool capturing);

  // Any thread: a buffer arrived, so the last restart worked.
  void noteAudio() { restartsWithoutAudio_.store(0, std::memory_order_relaxed); }

 private:
  std::atomic<int> restartsWithoutAudio_{0};
};

}  // namespace mic
