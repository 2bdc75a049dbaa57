#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "platform/status.h"

struct soxr;

namespace mic {

// Streams interleaved float audio of any rate and channel count into 16 kHz mono 16-bit samples,
// the only input the recognizer's models take. Not thread-safe: one worker feeds it.
class Resampler {
 public:
  static constexpr double kOutputRate = 16000;

  // A resampler, or the reason none could be made (a rate or channel count of 0, a library error).
  static Result<std::unique_ptr<Resampler>> make(double inputRate, uint32_t channels);
  ~Resampler();
  Resampler(const Resampler&) = delete;
  Resampler& operator=(const Resampler&) = delete;

  double inputRate() const { return inputRate_; }
  uint32_t channels() const { return channels_; }

  // Appends the output for `interleaved` (whole frames) to `out`; fails on a library error.
  Status process(std::span<const float> interleaved, std::vector<int16_t>& out);
  // Appends what the filter still holds; call once when the input has ended.
  Status flush(std::vector<int16_t>& out);

 private:
  Resampler(double inputRate, uint32_t channels, soxr* handle);
  Status run(const float* mono, size_t frames, std::vector<int16_t>& out);

  double inputRate_;
  uint32_t channels_;
  soxr* soxr_;  // null when the input is already at 16 kHz
  std::vector<float> mono_;
  std::vector<float> converted_;
};

}  // namespace mic
