#include "platform/linux/capture/frame_collector.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <numeric>
#include <thread>
#include <vector>

namespace mic {
namespace {

// Everything the collector hands out, copied, as a tap would.
struct Received {
  std::vector<std::vector<float>> buffers;
  std::vector<uint64_t> times;
  std::vector<AudioFormat> formats;

  FrameCollector::Output output() {
    return [this](const AudioPCMBuffer& buffer, const AudioTime& when) {
      const auto samples = buffer.interleavedSamples();
      EXPECT_EQ(samples.size(), size_t{buffer.frameLength()} * buffer.format().channelCount);
      buffers.emplace_back(samples.begin(), samples.end());
      times.push_back(when.sampleTime);
      formats.push_back(buffer.format());
    };
  }

  std::vector<float> joined() const {
    std::vector<float> all;
    for (const auto& buffer : buffers) all.insert(all.end(), buffer.begin(), buffer.end());
    return all;
  }
};

std::vector<float> ramp(size_t count) {
  std::vector<float> samples(count);
  std::iota(samples.begin(), samples.end(), 1.0f);
  return samples;
}

std::span<const std::byte> bytesOf(const float* samples, size_t count) {
  return {reinterpret_cast<const std::byte*>(samples), count * sizeof(float)};
}

// Feeds `samples` to the collector in chunks of the given frame counts, cycling through them.
void feed(FrameCollector& collector, const std::vector<float>& samples, uint32_t channels,
          const std::vector<size_t>& chunkFrames) {
  size_t at = 0;
  for (size_t i = 0; at < samples.size(); ++i) {
    const size_t count =
        std::min(chunkFrames[i % chunkFrames.size()] * channels, samples.size() - at);
    collector.append(bytesOf(samples.data() + at, count));
    at += count;
  }
}

TEST(FrameCollector, MakesExactBuffersFromAnyChunkSizesWithoutLosingOrRepeatingSamples) {
  const std::vector<std::vector<size_t>> patterns = {
      {80}, {1}, {1023}, {1024}, {1025}, {4096}, {7, 480, 1, 2000, 333}};
  for (const auto& pattern : patterns) {
    SCOPED_TRACE(::testing::PrintToString(pattern));
    Received received;
    FrameCollector collector({16000, 1}, 1024, received.output());
    const auto samples = ramp(1024 * 5 + 300);
    feed(collector, samples, 1, pattern);

    ASSERT_EQ(received.buffers.size(), 5u);
    for (const auto& buffer : received.buffers) EXPECT_EQ(buffer.size(), 1024u);
    const auto joined = received.joined();
    EXPECT_TRUE(std::equal(joined.begin(), joined.end(), samples.begin()));
    EXPECT_EQ(received.times, (std::vector<uint64_t>{0, 1024, 2048, 3072, 4096}));
    EXPECT_EQ(collector.framesDelivered(), 5120u);

    // The 300 frames left over come out at the front of the next buffer.
    const auto more = ramp(1024);
    collector.append(bytesOf(more.data(), 724));
    ASSERT_EQ(received.buffers.size(), 6u);
    EXPECT_EQ(received.buffers[5][0], samples[5120]);
    EXPECT_EQ(received.buffers[5][300], more[0]);
  }
}

TEST(FrameCollector, KeepsInterleavedChannelsAndFormatWhenChunksSplitFrames) {
  Received received;
  FrameCollector collector({48000, 2}, 1024, received.output());
  const auto samples = ramp(2 * 1024 * 2);
  const auto* bytes = reinterpret_cast<const std::byte*>(samples.data());
  const size_t total = samples.size() * sizeof(float);
  // 13 bytes at a time: chunks end inside samples and inside frames.
  for (size_t at = 0; at < total; at += 13) {
    collector.append({bytes + at, std::min<size_t>(13, total - at)});
  }
  ASSERT_EQ(received.buffers.size(), 2u);
  EXPECT_EQ(received.buffers[0].size(), 2048u);
  EXPECT_EQ(received.joined(), samples);
  EXPECT_EQ(received.formats[1].sampleRate, 48000);
  EXPECT_EQ(received.formats[1].channelCount, 2u);
  EXPECT_EQ(received.times[1], 1024u);
}

TEST(FrameCollector, FillsHolesWithSilenceInPlace) {
  Received received;
  FrameCollector collector({16000, 1}, 1024, received.output());
  const auto samples = ramp(1024);
  collector.append(bytesOf(samples.data(), 100));
  collector.appendSilence(1500 * sizeof(float));  // crosses a buffer boundary
  collector.append(bytesOf(samples.data() + 100, 472));

  ASSERT_EQ(received.buffers.size(), 2u);
  const auto joined = received.joined();
  for (size_t i = 0; i < 100; ++i) ASSERT_EQ(joined[i], samples[i]);
  for (size_t i = 100; i < 1600; ++i) ASSERT_EQ(joined[i], 0.0f) << i;
  for (size_t i = 1600; i < 2048; ++i) ASSERT_EQ(joined[i], samples[i - 1500]) << i;
}

TEST(FrameCollector, HandsOutNothingBeforeABufferIsFull) {
  Received received;
  FrameCollector collector({16000, 1}, 1024, received.output());
  const auto samples = ramp(1023);
  collector.append(bytesOf(samples.data(), samples.size()));
  collector.append({});
  collector.appendSilence(0);
  EXPECT_TRUE(received.buffers.empty());
  EXPECT_EQ(collector.framesDelivered(), 0u);
  collector.appendSilence(sizeof(float));
  EXPECT_EQ(received.buffers.size(), 1u);
}

}  // namespace
}  // namespace mic
