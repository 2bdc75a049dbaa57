#include "recognizer/resampler.h"

#include <soxr.h>

#include <algorithm>
#include <cmath>

namespace mic {
namespace {

int16_t toInt16(float sample) {
  const float scaled = std::round(sample * 32767.0f);
  return static_cast<int16_t>(std::clamp(scaled, -32768.0f, 32767.0f));
}

}  // namespace

Result<std::unique_ptr<Resampler>> Resampler::make(double inputRate, uint32_t channels) {
  if (!(inputRate > 0) || channels == 0) return Status::failure("unusable audio format");
  soxr* handle = nullptr;
  if (inputRate != kOutputRate) {
    soxr_error_t error = nullptr;
    const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_FLOAT32_I);
    // Medium quality keeps the whole speech band at a fraction of the high-quality filter's cost.
    const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_MQ, 0);
    handle = soxr_create(inputRate, kOutputRate, 1, &error, &io, &quality, nullptr);
    if (error || !handle) {
      if (handle) soxr_delete(handle);
      return Status::failure(std::string("audio resampling failed: ") +
                             (error ? error : "unknown error"));
    }
  }
  return std::unique_ptr<Resampler>(new Resampler(inputRate, channels, handle));
}

Resampler::Resampler(double inputRate, uint32_t channels, soxr* handle)
    : inputRate_(inputRate), channels_(channels), soxr_(handle) {}

Resampler::~Resampler() {
  if (soxr_) soxr_delete(soxr_);
}

Status Resampler::process(std::span<const float> interleaved, std::vector<int16_t>& out) {
  const size_t frames = interleaved.size() / channels_;
  if (frames == 0) return {};
  const float* mono = interleaved.data();
  if (channels_ > 1) {
    // Averaging keeps a voice that is on one channel only at half level, which is plenty.
    mono_.resize(frames);
    for (size_t f = 0; f < frames; ++f) {
      float sum = 0;
      for (uint32_t c = 0; c < channels_; ++c) sum += interleaved[f * channels_ + c];
      mono_[f] = sum / static_cast<float>(channels_);
    }
    mono = mono_.data();
  }
  return run(mono, frames, out);
}

Status Resampler::flush(std::vector<int16_t>& out) { return run(nullptr, 0, out); }

Status Resampler::run(const float* mono, size_t frames, std::vector<int16_t>& out) {
  if (!soxr_) {
    for (size_t f = 0; f < frames; ++f) out.push_back(toInt16(mono[f]));
    return {};
  }
  // On a flush (no input) soxr is called until it has nothing left to give.
  const size_t room =
      frames ? static_cast<size_t>(std::ceil(frames * kOutputRate / inputRate_)) + 64 : 4096;
  converted_.resize(room);
  for (;;) {
    size_t used = 0;
    size_t produced = 0;
    if (soxr_error_t error =
            soxr_process(soxr_, mono, frames, &used, converted_.data(), room, &produced)) {
      return Status::failure(std::string("audio resampling failed: ") + error);
    }
    for (size_t i = 0; i < produced; ++i) out.push_back(toInt16(converted_[i]));
    if (!mono) {
      if (produced == 0) return {};
      continue;
    }
    mono += used;
    frames -= used;
    if (frames == 0 || (used == 0 && produced == 0)) return {};
  }
}

}  // namespace mic
