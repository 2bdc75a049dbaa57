#include "recognizer/pocketsphinx/pocketsphinx_utterance.h"

#include <utility>

namespace mic {

PocketSphinxUtterance::PocketSphinxUtterance(std::unique_ptr<PocketSphinxDecoder> decoder,
                                             WarmUpPolicy policy)
    : decoder_(std::move(decoder)), policy_(policy) {}

Status PocketSphinxUtterance::start() {
  speaking_ = false;
  segmentHeardSpeech_ = false;
  bound_ = {};
  segmentShowedWords_ = false;
  join_.clear();
  samplesFed_ = 0;
  segmentStart_ = 0;
  hypothesis_.clear();
  return decoder_->startUtterance();
}

StretchResult PocketSphinxUtterance::segmentResult(bool closes) {
  return StretchResult{
      decoder_->hypothesis(),
      AudioSpan{static_cast<double>(segmentStart_), static_cast<double>(samplesFed_)}, closes};
}

Status PocketSphinxUtterance::feed(std::span<const int16_t> samples) {
  while (!samples.empty()) {
    const std::optional<size_t> end = bound_.end(samples, speaking_);
    const auto part = samples.first(end.value_or(samples.size()));
    samples = samples.subspan(part.size());
    if (auto status = decode(part); !status.ok()) return status;
    if (!end) continue;
    // A segment the detector already ended at this very point is not ended twice.
    if (segmentHeardSpeech_) {
      if (auto status = endSegment(); !status.ok()) return status;
    }
    bound_.startSegment();
  }
  return {};
}

Status PocketSphinxUtterance::decode(std::span<const int16_t> samples) {
  if (samples.empty()) return {};
  if (auto status = decoder_->process(samples); !status.ok()) return status;
  samplesFed_ += samples.size();
  if (policy_.defaultMeanWeightFrames >= 0)
    decoder_->followSpeakerMean(policy_.defaultMeanWeightFrames);
  // A segment that has no words yet leaves the text as it was shown; one whose words the decoder
  // took back shows that they are gone.
  if (StretchResult result = segmentResult(false); !result.text.empty() || segmentShowedWords_) {
    segmentShowedWords_ = !result.text.empty();
    hypothesis_ = join_.update(result);
  }
  speaking_ = decoder_->inSpeech();
  segmentHeardSpeech_ = segmentHeardSpeech_ || speaking_;
  if (segmentHeardSpeech_ && !speaking_) return endSegment();
  return {};
}

Status PocketSphinxUtterance::endSegment() {
  if (auto status = decoder_->endUtterance(); !status.ok()) return status;
  join_.update(segmentResult(true));  // shown once the next words come
  segmentStart_ = samplesFed_;
  segmentShowedWords_ = false;
  segmentHeardSpeech_ = false;
  bound_.startSegment();
  return decoder_->startUtterance();
}

Status PocketSphinxUtterance::finish() {
  if (auto status = decoder_->endUtterance(); !status.ok()) return status;
  hypothesis_ = join_.update(segmentResult(true));
  return {};
}

}  // namespace mic
