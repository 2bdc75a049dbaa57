#pragma once

#include <optional>
#include <string>

namespace mic {

// Where a result's words lie in the audio, in one unit the engine keeps throughout (seconds,
// samples).
struct AudioSpan {
  double start = 0;
  double end = 0;
};

// One reading from a recognizer of the stretch of transcript it is working on now: the text it
// starts over at, a segment's on Linux, what the Speech framework gives between restarts on the
// Mac.
struct StretchResult {
  std::string text;
  // Known when the engine can say where the stretch lies in the audio; nothing when it cannot.
  std::optional<AudioSpan> span;
  // The recognizer's last reading of this stretch: it moves on to new audio after it.
  bool closesStretch = false;
};

// The whole transcript so far from a recognizer that starts its text over at pauses: each
// stretch's text is kept once the next one starts, and the last reading of the current stretch
// follows it. A new reading starts a new stretch when its words begin where the current one's
// ended or later; without timing, when the current one was closed and the reading does not begin
// with its text (a recognizer may repeat a closed stretch as its final result, or keep its text
// and go on). Anything else revises the current stretch.
class TranscriptJoin {
 public:
  // Returns the whole transcript so far.
  const std::string& update(const StretchResult& result);
  const std::string& text() const { return whole_; }
  void clear();

 private:
  bool startsNewStretch(const StretchResult& result) const;

  std::string kept_;     // the finished stretches, joined
  std::string current_;  // the current stretch's last reading
  std::optional<AudioSpan> currentSpan_;
  bool currentClosed_ = false;
  std::string whole_;
};

}  // namespace mic
