#include "platform/apple/capture_recovery.h"

#include <cmath>

namespace mic {

namespace {

constexpr float kSoundLevel = 1.0f / 16777216.0f;  // 2^-24

bool sameFormat(AudioFormat a, AudioFormat b) {
  return a.sampleRate == b.sampleRate && a.channelCount == b.channelCount;
}

}  // namespace

bool carriesSound(std::span<const float> samples, size_t stride) {
  if (stride == 0) stride = 1;
  for (size_t i = 0; i < samples.size(); i += stride) {
    if (std::fabs(samples[i]) >= kSoundLevel) return true;
  }
  return false;
}

CaptureRecovery::CaptureRecovery(RecoverableCapture& capture, MainLoop& loop, MonotonicClock& clock)
    : capture_(capture), loop_(loop), clock_(clock) {}

void CaptureRecovery::onConfigurationChange() { settleLater(); }

void CaptureRecovery::settleLater() {
  // Each change pushes the moment back: only the check posted for the latest change acts. A count,
  // not a time, so that no rounding of the clock can leave the last check thinking it is early.
  const uint64_t change = ++changes_;
  loop_.postAfter(kSettlingTime, [this, change, weak = std::weak_ptr<int>(alive_)] {
    if (weak.lock()) settle(change);
  });
}

void CaptureRecovery::settle(uint64_t change) {
  if (change != changes_) return;
  const double now = clock_.now();
  if (!capture_.wanted()) return;  // the session stopped capture meanwhile
  const AudioFormat format = capture_.inputFormat();
  if (!(format.sampleRate > 0) || format.channelCount == 0) {
    capture_.end();  // no input left
    return;
  }
  // Changes also come while the engine keeps running (the output side, a rate it follows).
  if (capture_.running() && sameFormat(capture_.tapFormat(), format)) return;
  if (!mayRestart(now)) {
    capture_.end();
    return;
  }
  restarts_.push_back(now);
  restartsWithoutAudio_.fetch_add(1, std::memory_order_relaxed);
  if (!capture_.restart(format).ok()) settleLater();  // once more, when the hardware has settled
}

bool CaptureRecovery::mayRestart(double now) {
  while (!restarts_.empty() && restarts_.front() <= now - kRestartWindow) restarts_.pop_front();
  return static_cast<int>(restarts_.size()) < kMaxRestartsInWindow &&
         restartsWithoutAudio_.load(std::memory_order_relaxed) < kMaxRestartsWithoutAudio;
}

}  // namespace mic
