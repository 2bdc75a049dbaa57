#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <vector>

#include "platform/audio_input.h"

namespace mic {

// Gathers the chunks a capture thread receives, of whatever size the server or device sends, into
// buffers of exactly `framesPerBuffer` interleaved float32 frames, and hands each full buffer to
// `output` on the same thread. Storage is allocated once, here: nothing is allocated per chunk.
// Not thread-safe: one capture thread feeds it at a time.
class FrameCollector {
 public:
  using Output = std::function<void(const AudioPCMBuffer& buffer, const AudioTime& when)>;

  FrameCollector(AudioFormat format, uint32_t framesPerBuffer, Output output);
  FrameCollector(const FrameCollector&) = delete;
  FrameCollector& operator=(const FrameCollector&) = delete;

  // Raw float32 sample bytes in the collector's format. A chunk may end inside a frame; the rest
  // of that frame is expected at the start of the next chunk.
  void append(std::span<const std::byte> bytes);
  // A gap in the stream of `byteCount` bytes: kept as silence so the timeline stays continuous.
  void appendSilence(size_t byteCount);

  AudioFormat format() const { return buffer_.format_; }
  // Frames handed to `output` so far; the next buffer's time stamp.
  uint64_t framesDelivered() const { return framesDelivered_; }

 private:
  class Buffer final : public AudioPCMBuffer {
   public:
    AudioFormat format() const override { return format_; }
    uint32_t frameLength() const override { return frames_; }
    std::span<const float> interleavedSamples() const override { return samples_; }

    AudioFormat format_;
    uint32_t frames_ = 0;
    std::vector<float> samples_;
  };

  std::byte* bytes() { return reinterpret_cast<std::byte*>(buffer_.samples_.data()); }
  size_t capacityBytes() const { return buffer_.samples_.size() * sizeof(float); }
  void deliverIfFull();

  Buffer buffer_;
  Output output_;
  size_t filledBytes_ = 0;
  uint64_t framesDelivered_ = 0;
};

}  // namespace mic
