#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>

#include "platform/status.h"

namespace mic {

// The format a node delivers. A rate of 0 or no channels means there is no usable input.
struct AudioFormat {
  double sampleRate = 0;
  uint32_t channelCount = 0;
};

// When a buffer was captured. Carried for completeness; the session does not use it.
struct AudioTime {
  uint64_t sampleTime = 0;
};

// One captured buffer. It is owned by the engine and valid only during the tap call that hands
// it out: whoever needs the samples later copies them.
class AudioPCMBuffer {
 public:
  virtual ~AudioPCMBuffer() = default;
  virtual AudioFormat format() const = 0;
  virtual uint32_t frameLength() const = 0;
  // frameLength() * channelCount interleaved 32-bit float samples. A backend whose native buffers
  // are laid out differently may return an empty span and let its own request read the native one.
  virtual std::span<const float> interleavedSamples() const = 0;
};

// Called on the audio thread for each captured buffer, never on the main thread.
using AudioTapBlock = std::function<void(const AudioPCMBuffer& buffer, const AudioTime& when)>;

// The node that delivers microphone audio; an engine hands out the same node every time.
class AudioInputNode {
 public:
  virtual ~AudioInputNode() = default;
  virtual AudioFormat outputFormatForBus(uint32_t bus) = 0;
  // Once the engine runs, `block` is called on the audio thread with buffers of about
  // `bufferSize` frames in `format`. One tap per bus.
  virtual void installTap(uint32_t bus, uint32_t bufferSize, AudioFormat format,
                          AudioTapBlock block) = 0;
  // When this returns, `block` is not running and will not be called again.
  virtual void removeTap(uint32_t bus) = 0;
};

// The capture engine: created not running. Main thread only.
class AudioEngine {
 public:
  virtual ~AudioEngine() = default;
  virtual AudioInputNode& inputNode() = 0;
  virtual void prepare() = 0;
  // Starts capture: success when capture runs, or a failure carrying the platform's description.
  virtual Status start() = 0;
  virtual bool isRunning() const = 0;
  // Ends capture; no tap call runs after it returns.
  virtual void stop() = 0;
  // `handler` is called once, on any thread, when capture that start() began ends on its own:
  // the microphone or the sound server went away and nothing took its place. A move to another
  // microphone is not an end, and stop() never calls it. Set before start(); the handler must not
  // call into the engine (it posts to the main queue).
  virtual void setCaptureEndedHandler(std::function<void()> handler) = 0;
};

class AudioInputService {
 public:
  virtual ~AudioInputService() = default;
  // Asks for access to the microphone. `handler` is called once, on any thread, with the answer.
  virtual void requestMicrophoneAccess(std::function<void(bool granted)> handler) = 0;
  virtual std::unique_ptr<AudioEngine> makeEngine() = 0;
};

}  // namespace mic
