#pragma once

#include <functional>
#include <memory>

#include "platform/audio_input.h"
#include "platform/linux/capture/frame_collector.h"
#include "platform/status.h"

namespace mic {

// One way of reaching the microphone (the sound server, or ALSA directly). The engine owns one
// and calls it on the main thread only; captured audio goes to the collector on the source's own
// capture thread.
class CaptureSource {
 public:
  virtual ~CaptureSource() = default;
  // The microphone's own rate and channel count; a rate of 0 and no channels when there is no
  // microphone to record; a failure, with its reason, when that could not be found out (the
  // server's answer did not come, memory ran out). May wait a bounded time for the server.
  virtual Result<AudioFormat> format() = 0;
  // Starts delivering interleaved float32 audio in `format` to `collector`, which must outlive the
  // capture. A failure carries the system's description of it. `onEnded`, when set, is called at
  // most once, on the capture thread, if capture that started ends without stop(): the device or
  // server went away with nothing to move the capture to.
  virtual Status start(AudioFormat format, FrameCollector& collector,
                       std::function<void()> onEnded) = 0;
  // When this returns the collector is no longer used. Harmless when not running.
  virtual void stop() = 0;
  // False once stopped or once the server or device went away.
  virtual bool isRunning() const = 0;
};

// Makes the capture source an engine records from, on the engine's first need of one: the real
// ones pick the sound server or ALSA, tests hand in a fake.
using CaptureSourceFactory = std::function<std::unique_ptr<CaptureSource>()>;

}  // namespace mic
