#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
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

// The one tap of an input node. The capture thread delivers through it; the main thread installs
// and removes the block. Removal waits for a call in progress, so once removeTap returns the block
// is neither running nor called again. The block must never wait on the main thread.
class TapSlot {
 public:
  void install(AudioTapBlock block) {
    std::lock_guard lock(mutex_);
    block_ = std::move(block);
  }

  void remove() {
    AudioTapBlock old;
    {
      std::lock_guard lock(mutex_);
      old = std::move(block_);
      block_ = nullptr;
    }
    // Destroyed outside the lock: whatever the block holds may do work when released.
  }

  bool installed() {
    std::lock_guard lock(mutex_);
    return static_cast<bool>(block_);
  }

  void deliver(const AudioPCMBuffer& buffer, const AudioTime& when) {
    std::lock_guard lock(mutex_);
    if (block_) block_(buffer, when);
  }

 private:
  std::mutex mutex_;
  AudioTapBlock block_;
};

}  // namespace mic
