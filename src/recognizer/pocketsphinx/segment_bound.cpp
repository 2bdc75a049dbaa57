#include "recognizer/pocketsphinx/segment_bound.h"

#include <algorithm>

namespace mic {

bool SegmentBound::quiet(double energy) const {
  if (recent_.empty()) return false;
  const double quietest = *std::min_element(recent_.begin(), recent_.end());
  return energy <= kQuietRatio * std::max(quietest, kSilentEnergy);
}

size_t SegmentBound::gapFrames(size_t speech) {
  constexpr size_t kSpan = kLongestSpeech - kLongSpeech;
  const size_t past = speech - kLongSpeech;
  if (past < kSpan / 2) return 5;  // 100 ms: words rarely pause inside for that
  if (past < kSpan * 5 / 6) return 3;
  return 1;
}

std::optional<size_t> SegmentBound::end(std::span<const int16_t> samples, bool speaking) {
  for (size_t i = 0; i < samples.size(); ++i) {
    const double sample = samples[i];
    frameEnergy_ += sample * sample;
    if (speaking) ++speech_;
    if (++frameFill_ < kFrame) continue;
    const double energy = frameEnergy_ / kFrame;
    frameEnergy_ = 0;
    frameFill_ = 0;
    quietFrames_ = quiet(energy) ? quietFrames_ + 1 : 0;
    const bool cut =
        speech_ >= kLongestSpeech || (speech_ >= kLongSpeech && quietFrames_ >= gapFrames(speech_));
    recent_.push_back(energy);
    if (recent_.size() > kRecentFrames) recent_.pop_front();
    if (cut) return i + 1;
  }
  return std::nullopt;
}

}  // namespace mic
