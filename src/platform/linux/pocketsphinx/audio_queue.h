#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <span>
#include <vector>

#include "platform/audio_input.h"

namespace mic {

// One captured buffer, copied.
struct AudioChunk {
  AudioFormat format;
  std::vector<float> samples;  // interleaved
};

// Hands captured audio from the audio thread to the recognizer's worker. push copies the samples
// outside the lock and holds it only to link the copy in, so the audio thread never waits on the
// worker, the model load or the main thread. Nothing is ever dropped: audio that arrives before
// the worker starts simply waits here.
class AudioQueue {
 public:
  // Audio thread.
  void push(AudioFormat format, std::span<const float> interleaved);
  // No more audio will come; the worker finishes with what is queued.
  void close();
  // The worker stops waiting (cancel).
  void interrupt();

  enum class Wait { chunk, closed, interrupted };
  // Blocks until a chunk is ready (moved into `chunk`), the queue is closed and drained, or it is
  // interrupted. A closed queue still hands out what it holds first.
  Wait pop(AudioChunk& chunk);

 private:
  std::optional<Wait> takeLocked(AudioChunk& chunk);

  std::mutex mutex_;
  std::condition_variable ready_;
  std::deque<AudioChunk> chunks_;
  bool closed_ = false;
  bool interrupted_ = false;
};

}  // namespace mic
