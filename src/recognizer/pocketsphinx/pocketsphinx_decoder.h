#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "platform/status.h"
#include "recognizer/decoder.h"
#include "recognizer/pocketsphinx/pocketsphinx_handle.h"
#include "recognizer/pocketsphinx/segment_bound.h"
#include "transcript/transcript_join.h"

namespace mic {

// How the decoder makes up for the cold start of cepstral mean normalization: each process starts
// from the model's default mean, which fits the speaker's microphone poorly until the library has
// seen some of their audio.
struct WarmUpPolicy {
  // How many 10 ms frames of speech the model's default mean weighs against the speaker's while the
  // mean follows their speech from the first frame. Negative: the mean moves only when a segment
  // ends, as the library does on its own.
  double defaultMeanWeightFrames = 100;
};

// The engine's Decoder: one utterance at a time through the library's handle, which it owns.
// Single-threaded.
//
// The library's end of a segment (its rescoring pass) costs more the longer the audio it covers, so
// the utterance is cut into segments at the pauses the library's voice activity detector finds,
// and each segment is finished while the speaker is still silent rather than all of it at the end.
// A speaker who talks on without such a pause has the segment ended at a quiet moment between words
// once it runs long (SegmentBound), so that no end costs more than a bounded time. Each segment's
// text is one stretch of the transcript.
class PocketSphinxDecoder final : public Decoder {
 public:
  PocketSphinxDecoder(std::unique_ptr<PocketSphinxHandle> handle, WarmUpPolicy policy);

  Status start() override;
  Status feed(std::span<const int16_t> samples) override;
  Status finish() override;

  // A finished segment's rescored words show only once new words follow them: changing the text
  // during the pause would make it look as if the speaker were still talking.
  const std::string& hypothesis() const override { return hypothesis_; }
  // The library's voice activity detector, as of the last feed; the pause that turns it false
  // finishes the segment.
  bool inSpeech() const override { return speaking_; }

 private:
  // Decodes `samples` as part of the current segment, ending it if the detector hears a pause.
  Status decode(std::span<const int16_t> samples);
  Status endSegment();
  // The library's reading of the current segment, placed in the audio by samples fed.
  StretchResult segmentResult(bool closes);

  std::unique_ptr<PocketSphinxHandle> handle_;
  WarmUpPolicy policy_;
  SegmentBound bound_;
  bool speaking_ = false;
  bool segmentHeardSpeech_ = false;
  bool segmentShowedWords_ = false;  // the current segment's words are part of hypothesis_
  TranscriptJoin join_;
  uint64_t samplesFed_ = 0;
  uint64_t segmentStart_ = 0;  // where the current segment began, in samples fed
  std::string hypothesis_;
};

}  // namespace mic
