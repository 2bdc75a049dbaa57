#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <span>

#include "platform/audio_input.h"
#include "platform/main_loop.h"

namespace mic {

// Whether `samples` (every `stride`-th one, from the first) carry any sound: a sample of at least
// 2^-24, the smallest step a 24-bit converter makes. An engine just restarted, a device in the
// middle of a switch, or an idle virtual device in an aggregate hands out buffers of zeros; a real
// microphone's noise floor is far above the threshold.
bool carriesSound(std::span<const float> samples, size_t stride = 1);

// What capture the recovery looks after does. Main thread only.
class RecoverableCapture {
 public:
  virtual ~RecoverableCapture() = default;
  // Whether capture that start() began is still wanted: the session has not stopped it.
  virtual bool wanted() = 0;
  // Whether the engine runs, and the format its tap was installed in.
  virtual bool running() = 0;
  virtual AudioFormat tapFormat() = 0;
  // The input's format as the hardware has it now; a rate of 0 or no channels when none is left.
  virtual AudioFormat inputFormat() = 0;
  // Captures again in `format`, through a fresh engine with the same tap. A failure carries the
  // platform's description.
  virtual Status restart(AudioFormat format) = 0;
  // Capture is over: ended as a vanished microphone ends it, with what was heard kept.
  virtual void end() = 0;
};

// What to do when the audio hardware changes under a capture (a headset switching profile as its
// microphone opens, a device plugged in or chosen, headphones on an aggregate): the engine stops
// itself and says so, often several times in a row. Capture goes on in the input's new format, so
// nothing already heard is lost; it ends only when no input is left or restarting keeps failing.
//
//  - A change is acted on once the changes have stopped for kSettlingTime: a burst is one change,
//    and the input's format is read once the hardware has settled on it.
//  - A restart that fails is tried again after another settling time.
//  - Restarts are counted over kRestartWindow seconds: more than kMaxRestartsInWindow there is a
//    loop (a restart that itself changes the hardware), not a user changing devices.
//  - Restarts in a row that bring nothing but digital silence are bounded by
//    kMaxRestartsWithoutAudio, however far apart.
class CaptureRecovery {
 public:
  static constexpr double kSettlingTime = 0.5;
  static constexpr double kRestartWindow = 10.0;
  static constexpr int kMaxRestartsInWindow = 3;
  static constexpr int kMaxRestartsWithoutAudio = 3;

  // The loop and clock the settling is measured on; `capture` is the owner's. All outlive this.
  CaptureRecovery(RecoverableCapture& capture, MainLoop& loop, MonotonicClock& clock);

  // Main thread: the engine said its configuration changed.
  void onConfigurationChange();

  // Any thread: a buffer arrived, in one channel (or with the stride of its channels). Only one
  // that carries sound shows that the last restart worked.
  void noteBuffer(std::span<const float> samples, size_t stride = 1) {
    if (carriesSound(samples, stride)) noteAudio();
  }
  void noteAudio() { restartsWithoutAudio_.store(0, std::memory_order_relaxed); }

 private:
  void settleLater();
  void settle(uint64_t change);
  bool mayRestart(double now);

  RecoverableCapture& capture_;
  MainLoop& loop_;
  MonotonicClock& clock_;
  uint64_t changes_ = 0;         // changes reported, and failed restarts to try again
  std::deque<double> restarts_;  // when, within the window
  std::atomic<int> restartsWithoutAudio_{0};
  // Delayed work holds this weakly: it may fall due after the owner is gone.
  const std::shared_ptr<int> alive_ = std::make_shared<int>(0);
};

}  // namespace mic
