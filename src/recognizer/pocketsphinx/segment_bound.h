#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <span>

namespace mic {

// Where a segment that runs long should end, so that the decoder's end of segment (a rescoring pass
// whose cost grows with the segment, several times faster in noise) and its memory stay bounded
// however long the speaker talks without a pause the voice activity detector hears. Past
// kLongSpeech of speech, the segment ends in the first gap between words: a run of frames as quiet
// as the quietest of the last seconds (in a noisy room, as loud as the noise). The run asked for
// shortens as the segment grows, since a single quiet frame may be the closure of a "t" inside a
// word; past kLongestSpeech the segment ends wherever it is. 16 kHz mono samples.
// 7 s keeps the end of a segment spoken over noise inside the drain, so the last segment's words
// reach the final; 10 s did not (bench/README.md, "Long speech").
class SegmentBound {
 public:
  static constexpr size_t kRate = 16000;
  static constexpr size_t kLongSpeech = 4 * kRate;
  static constexpr size_t kLongestSpeech = 7 * kRate;

  // A new segment begins.
  void startSegment() { speech_ = 0; }
  // How many of `samples`, which come next, still belong to the segment: nullopt for all of them,
  // otherwise a count above zero after which the segment should end. `speaking`: whether the
  // decoder counts the audio as speech.
  std::optional<size_t> end(std::span<const int16_t> samples, bool speaking);

 private:
  static constexpr size_t kFrame = kRate / 50;     // 20 ms
  static constexpr size_t kRecentFrames = 3 * 50;  // what "quiet" is measured against
  // Mean square of a frame at -70 dBFS: below this, every frame counts as equally quiet.
  static constexpr double kSilentEnergy = 100;
  // A frame within 6 dB of the quietest of the last 3 s is quiet.
  static constexpr double kQuietRatio = 4;

  bool quiet(double energy) const;
  // How many quiet frames in a row make a gap, for a segment with this much speech.
  static size_t gapFrames(size_t speech);

  size_t speech_ = 0;       // samples of the segment counted as speech
  size_t quietFrames_ = 0;  // in a row, up to the last frame
  double frameEnergy_ = 0;
  size_t frameFill_ = 0;
  std::deque<double> recent_;  // mean squares of the last frames, oldest first
};

}  // namespace mic
