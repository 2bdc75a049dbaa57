#include "platform/apple/channel_mix.h"

#include <algorithm>

#include "platform/apple/capture_recovery.h"

namespace mic {

void mixToMono(std::span<const float* const> channels, size_t stride, std::span<float> mono) {
  if (stride == 0) stride = 1;
  std::ranges::fill(mono, 0.0f);
  if (mono.empty()) return;
  const size_t span = (mono.size() - 1) * stride + 1;  // samples from a channel's first to last
  size_t counted = 0;
  for (const float* channel : channels) {
    if (channel == nullptr || !carriesSound({channel, span}, stride)) continue;
    ++counted;
    for (size_t i = 0; i < mono.size(); ++i) mono[i] += channel[i * stride];
  }
  if (counted <= 1) return;
  const float scale = 1.0f / static_cast<float>(counted);
  for (float& sample : mono) sample *= scale;
}

}  // namespace mic
