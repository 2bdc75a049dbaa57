#include "recognizer/pocketsphinx/pocketsphinx_decoder.h"

#include <utility>

namespace mic {

PocketSphinxDecoder::PocketSphinxDecoder(std::unique_ptr<PocketSphinxHandle> handle,
                                         WarmUpPolicy policy)
    : handle_(std::move(handle)), policy_(policy) {}

Status PocketSphinxDecoder::start() {
  speaking_ = false;
  segmentHeardSpeech_ = false;
  bound_ = {};
  segmentShowedWords_ = false;
  join_.clear();
  samplesFed_ = 0;
  segmentStart_ = 0;
  hypothesis_.clear();
  return handle_->startSegment();
}

StretchResult PocketSphinxDecoder::segmentResult(bool closes) {
  return StretchResult{
      handle_->hypothesis(),
      AudioSpan{static_cast<double>(segmentStart_), static_cast<double>(samplesFed_)}, closes};
}

Status PocketSphinxDecoder::feed(std::span<const int16_t> samples) {
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

Status PocketSphinxDecoder::decode(std::span<const int16_t> samples) {
  if (samples.empty()) return {};
  if (auto status = handle_->process(samples); !status.ok()) return status;
  samplesFed_ += samples.size();
  if (policy_.defaultMeanWeightFrames >= 0)
    handle_->followSpeakerMean(policy_.defaultMeanWeightFrames);
  // A segment that has no words yet leaves the text as it was shown; one whose words the decoder
  // took back shows that they are gone.
  if (StretchResult result = segmentResult(false); !result.text.empty() || segmentShowedWords_) {
    segmentShowedWords_ = !result.text.empty();
    hypothesis_ = join_.update(result);
  }
  speaking_ = handle_->inSpeech();
  segmentHeardSpeech_ = segmentHeardSpeech_ || speaking_;
  if (segmentHeardSpeech_ && !speaking_) return endSegment();
  return {};
}

Status PocketSphinxDecoder::endSegment() {
  if (auto status = handle_->endSegment(); !status.ok()) return status;
  join_.update(segmentResult(true));  // shown once the next words come
  segmentStart_ = samplesFed_;
  segmentShowedWords_ = false;
  segmentHeardSpeech_ = false;
  bound_.startSegment();
  return handle_->startSegment();
}

Status PocketSphinxDecoder::finish() {
  if (auto status = handle_->endSegment(); !status.ok()) return status;
  hypothesis_ = join_.update(segmentResult(true));
  return {};
}

}  // namespace mic
