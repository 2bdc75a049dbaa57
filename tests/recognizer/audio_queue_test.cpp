#include "recognizer/audio_queue.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace mic {
namespace {

TEST(AudioQueue, HandsOutCopiesInOrderThenReportsTheEnd) {
  AudioQueue queue;
  std::vector<float> samples = {0.1f, 0.2f, 0.3f, 0.4f};
  queue.push({48000, 2}, samples);
  samples.assign(4, 0.0f);  // the caller's buffer is reused at once
  queue.push({16000, 1}, std::vector<float>{0.5f});
  queue.close();
  queue.push({16000, 1}, std::vector<float>{0.9f});  // after the end: not part of the utterance

  AudioChunk chunk;
  ASSERT_EQ(queue.pop(chunk), AudioQueue::Wait::chunk);
  EXPECT_EQ(chunk.format.sampleRate, 48000);
  EXPECT_EQ(chunk.format.channelCount, 2u);
  EXPECT_EQ(chunk.samples, (std::vector<float>{0.1f, 0.2f, 0.3f, 0.4f}));
  ASSERT_EQ(queue.pop(chunk), AudioQueue::Wait::chunk);
  EXPECT_EQ(chunk.samples, (std::vector<float>{0.5f}));
  EXPECT_EQ(queue.pop(chunk), AudioQueue::Wait::closed);
  EXPECT_EQ(queue.pop(chunk), AudioQueue::Wait::closed);
}

TEST(AudioQueue, InterruptWinsOverQueuedAudio) {
  AudioQueue queue;
  queue.push({16000, 1}, std::vector<float>{1.0f});
  queue.interrupt();
  AudioChunk chunk;
  EXPECT_EQ(queue.pop(chunk), AudioQueue::Wait::interrupted);
}

TEST(AudioQueue, AWaitingConsumerGetsEverythingFromAnotherThread) {
  AudioQueue queue;
  constexpr int kChunks = 2000;
  std::vector<float> received;
  std::thread consumer([&] {
    AudioChunk chunk;
    while (queue.pop(chunk) == AudioQueue::Wait::chunk) {
      received.insert(received.end(), chunk.samples.begin(), chunk.samples.end());
    }
  });
  for (int i = 0; i < kChunks; ++i) queue.push({16000, 1}, std::vector<float>{float(i)});
  queue.close();
  consumer.join();
  ASSERT_EQ(received.size(), size_t{kChunks});
  for (int i = 0; i < kChunks; ++i) EXPECT_EQ(received[i], float(i));
}

TEST(AudioQueue, InterruptWakesAWaitingConsumer) {
  AudioQueue queue;
  AudioQueue::Wait result = AudioQueue::Wait::chunk;
  std::thread consumer([&] {
    AudioChunk chunk;
    result = queue.pop(chunk);
  });
  queue.interrupt();
  consumer.join();
  EXPECT_EQ(result, AudioQueue::Wait::interrupted);
}

}  // namespace
}  // namespace mic
