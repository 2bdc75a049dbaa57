#include "recognizer/resampler.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

namespace mic {
namespace {

std::vector<float> tone(double rate, uint32_t channels, double hz, double seconds, float level) {
  std::vector<float> samples;
  const auto frames = static_cast<size_t>(rate * seconds);
  for (size_t f = 0; f < frames; ++f) {
    const float value =
        level * static_cast<float>(std::sin(2 * std::numbers::pi * hz * double(f) / rate));
    for (uint32_t c = 0; c < channels; ++c) samples.push_back(value);
  }
  return samples;
}

// Upward zero crossings per second: the tone's frequency.
double frequencyOf(const std::vector<int16_t>& samples) {
  int crossings = 0;
  for (size_t i = 1; i < samples.size(); ++i) {
    if (samples[i - 1] < 0 && samples[i] >= 0) ++crossings;
  }
  return crossings / (double(samples.size()) / 16000);
}

std::unique_ptr<Resampler> make(double rate, uint32_t channels) {
  auto made = Resampler::make(rate, channels);
  EXPECT_TRUE(made.ok()) << made.status().message();
  return made.ok() ? std::move(made).value() : nullptr;
}

TEST(Resampler, StreamsCaptureFormatsInto16kMonoKeepingPitchAndLength) {
  for (const auto& [rate, channels] : std::vector<std::pair<double, uint32_t>>{
           {48000, 2}, {44100, 1}, {44100, 2}, {48000, 1}, {22050, 1}, {8000, 1}}) {
    auto resampler = make(rate, channels);
    ASSERT_TRUE(resampler);
    const auto input = tone(rate, channels, 440, 1.0, 0.5f);
    std::vector<int16_t> out;
    // In capture-sized pieces, as the worker feeds it.
    const size_t step = 1024 * channels;
    for (size_t i = 0; i < input.size(); i += step) {
      const size_t n = std::min(step, input.size() - i);
      ASSERT_TRUE(resampler->process(std::span(input).subspan(i, n), out).ok());
    }
    ASSERT_TRUE(resampler->flush(out).ok());
    EXPECT_NEAR(double(out.size()), 16000, 16) << rate << " Hz, " << channels << " channels";
    EXPECT_NEAR(frequencyOf(out), 440, 3) << rate;
    // Level kept: a 0.5 tone peaks near 16384 in the middle of the stream.
    const auto peak = *std::max_element(out.begin() + 4000, out.end() - 4000);
    EXPECT_NEAR(peak, 16384, 600) << rate;
  }
}

TEST(Resampler, SixteenKilohertzMonoIsConvertedSampleForSample) {
  auto resampler = make(16000, 1);
  ASSERT_TRUE(resampler);
  std::vector<int16_t> out;
  ASSERT_TRUE(
      resampler->process(std::vector<float>{0.0f, 0.5f, -0.5f, 1.0f, -1.0f, 2.0f, -2.0f}, out)
          .ok());
  ASSERT_TRUE(resampler->flush(out).ok());
  EXPECT_EQ(out, (std::vector<int16_t>{0, 16384, -16384, 32767, -32767, 32767, -32768}));
}

TEST(Resampler, ChannelsAreAveraged) {
  auto resampler = make(16000, 2);
  ASSERT_TRUE(resampler);
  std::vector<int16_t> out;
  ASSERT_TRUE(resampler->process(std::vector<float>{0.5f, 0.0f, -0.25f, -0.25f}, out).ok());
  EXPECT_EQ(out, (std::vector<int16_t>{8192, -8192}));
}

TEST(Resampler, AnUnusableFormatIsAnError) {
  EXPECT_EQ(Resampler::make(0, 1).status().message(), "unusable audio format");
  EXPECT_EQ(Resampler::make(48000, 0).status().message(), "unusable audio format");
  EXPECT_EQ(Resampler::make(-1, 2).status().message(), "unusable audio format");
}

}  // namespace
}  // namespace mic
