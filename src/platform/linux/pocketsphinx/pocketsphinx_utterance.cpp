#include "platform/linux/pocketsphinx/pocketsphinx_utterance.h"

#include <utility>

namespace mic {
namespace {

std::string joined(const std::string& before, const std::string& after) {
  if (before.empty()) return after;
  if (after.empty()) return before;
  return before + " " + after;
}

}  // namespace

PocketSphinxUtterance::PocketSphinxUtterance(std::unique_ptr<PocketSphinxDecoder> decoder,
                                             WarmUpPolicy policy)
    : decoder_(std::move(decoder)), policy_(policy) {}

Status PocketSphinxUtterance::start() {
  speaking_ = false;
  segmentHeardSpeech_ = false;
  bound_ = {};
  finishedText_.clear();
  shownBefore_.clear();
  hypothesis_.clear();
  return decoder_->startUtterance();
}

void PocketSphinxUtterance::showHypothesis(const std::string& segmentText) {
  hypothesis_ = segmentText.empty() ? shownBefore_ : joined(finishedText_, segmentText);
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
  if (policy_.defaultMeanWeightFrames >= 0)
    decoder_->followSpeakerMean(policy_.defaultMeanWeightFrames);
  showHypothesis(decoder_->hypothesis());
  speaking_ = decoder_->inSpeech();
  segmentHeardSpeech_ = segmentHeardSpeech_ || speaking_;
  if (segmentHeardSpeech_ && !speaking_) return endSegment();
  return {};
}

Status PocketSphinxUtterance::endSegment() {
  if (auto status = decoder_->endUtterance(); !status.ok()) return status;
  finishedText_ = joined(finishedText_, decoder_->hypothesis());
  shownBefore_ = hypothesis_;
  segmentHeardSpeech_ = false;
  bound_.startSegment();
  return decoder_->startUtterance();
}

Status PocketSphinxUtterance::finish() {
  if (auto status = decoder_->endUtterance(); !status.ok()) return status;
  hypothesis_ = joined(finishedText_, decoder_->hypothesis());
  return {};
}

}  // namespace mic
