#include "platform/capture_recovery.h"

namespace mic {

CaptureRecovery::Outcome CaptureRecovery::onConfigurationChange(AudioEngine& engine, const Tap& tap,
                                                                bool capturing) {
  // Changes come in bursts, some while the engine keeps running.
  if (!capturing || engine.isRunning()) return Outcome::unchanged;
  if (restartsWithoutAudio_.load(std::memory_order_relaxed) >= kMaxRestartsWithoutAudio)
    return Outcome::ended;
  AudioInputNode& node = engine.inputNode();
  const AudioFormat format = node.outputFormatForBus(tap.bus);
  if (format.sampleRate <= 0 || format.channelCount == 0) return Outcome::ended;
  // The tap must follow the hardware's rate, so it goes in again in the new format.
  node.removeTap(tap.bus);
  node.installTap(tap.bus, tap.bufferSize, format, tap.block);
  engine.prepare();
  restartsWithoutAudio_.fetch_add(1, std::memory_order_relaxed);
  if (!engine.start().ok()) return Outcome::ended;
  return Outcome::restarted;
}

}  // namespace mic
