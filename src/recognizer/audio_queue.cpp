#include "recognizer/audio_queue.h"

#include <cmath>
#include <utility>

namespace mic {
namespace {

int64_t durationMicros(const AudioChunk& chunk) {
  if (!(chunk.format.sampleRate > 0) || chunk.format.channelCount == 0) return 0;
  const double frames = static_cast<double>(chunk.samples.size() / chunk.format.channelCount);
  return std::llround(frames * 1e6 / chunk.format.sampleRate);
}

}  // namespace

void AudioQueue::push(AudioFormat format, std::span<const float> interleaved) {
  AudioChunk chunk{format, std::vector<float>(interleaved.begin(), interleaved.end())};
  {
    MutexLock lock(mutex_);
    if (closed_) return;  // audio after endAudio has no utterance to join
    backlogMicros_ += durationMicros(chunk);
    chunks_.push_back(std::move(chunk));
  }
  ready_.notify_one();
}

void AudioQueue::close() {
  {
    MutexLock lock(mutex_);
    closed_ = true;
  }
  ready_.notify_all();
}

void AudioQueue::interrupt() {
  {
    MutexLock lock(mutex_);
    interrupted_ = true;
  }
  ready_.notify_all();
}

std::optional<AudioQueue::Wait> AudioQueue::takeLocked(AudioChunk& chunk) {
  if (interrupted_) return Wait::interrupted;
  if (!chunks_.empty()) {
    chunk = std::move(chunks_.front());
    chunks_.pop_front();
    handedOutMicros_ = durationMicros(chunk);
    return Wait::chunk;
  }
  if (closed_) return Wait::closed;
  return std::nullopt;
}

AudioQueue::Wait AudioQueue::pop(AudioChunk& chunk) {
  // The chunk the worker is done with is freed before the lock is taken: freeing memory the audio
  // thread allocated can wait on the allocator, and the audio thread must never wait on that.
  AudioChunk spent = std::move(chunk);
  spent = {};
  MutexLock lock(mutex_);
  backlogMicros_ -= std::exchange(handedOutMicros_, 0);
  std::optional<Wait> result;
  ready_.wait(lock, [&]() REQUIRES(mutex_) { return (result = takeLocked(chunk)).has_value(); });
  return *result;
}

double AudioQueue::backlogDuration() const { return static_cast<double>(backlogMicros_) / 1e6; }

}  // namespace mic
