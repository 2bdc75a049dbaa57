#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <optional>
#include <span>
#include <vector>

#include "platform/audio_input.h"
#include "platform/mutex.h"

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
  // interrupted. A closed queue still hands out what it holds first. Coming back for the next
  // chunk is what says that the worker is done with the last one.
  Wait pop(AudioChunk& chunk);

  // Seconds of audio pushed that the worker is not done with yet: what waits here and the chunk
  // it is working on. Any thread.
  double backlogDuration() const;

 private:
  std::optional<Wait> takeLocked(AudioChunk& chunk) REQUIRES(mutex_);

  Mutex mutex_;
  CondVar ready_;
  std::deque<AudioChunk> chunks_ GUARDED_BY(mutex_);
  bool closed_ GUARDED_BY(mutex_) = false;
  bool interrupted_ GUARDED_BY(mutex_) = false;
  // In whole microseconds, so that what a chunk added it takes away again exactly.
  int64_t handedOutMicros_ GUARDED_BY(mutex_) = 0;
  // Read without the lock: the main thread asks every tick and must not queue behind the audio
  // thread for it.
  std::atomic<int64_t> backlogMicros_ = 0;
};

}  // namespace mic
