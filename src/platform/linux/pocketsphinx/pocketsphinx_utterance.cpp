#include "platform/linux/pocketsphinx/pocketsphinx_utterance.h"

namespace mic {
namespace {

std::string joined(const std::string& before, const std::string& after) {
  if (before.empty()) return after;
  if (after.empty()) return before;
  return before + " " + after;
}

}  // namespace

PocketSphinxUtterance::PocketSphinxUtterance(PocketSphinxDecoder& decoder, WarmUpPolicy policy)
    : decoder_(decoder), policy_(policy) {}

std::string PocketSphinxUtterance::start() {
  audio_.clear();
  firstWordsAt_ = 0;
  redecoded_ = false;
  segmentHeardSpeech_ = false;
  finishedText_.clear();
  shownBefore_.clear();
  hypothesis_.clear();
  return decoder_.startUtterance();
}

void PocketSphinxUtterance::showHypothesis(const std::string& segmentText) {
  hypothesis_ = segmentText.empty() ? shownBefore_ : joined(finishedText_, segmentText);
}

std::string PocketSphinxUtterance::feed(std::span<const int16_t> samples) {
  if (samples.empty()) return {};
  // Kept only for decoding it again: up to 2 MB in a minute.
  const bool keepsAudio = policy_.redecodeAfterWordsSeconds >= 0 || policy_.secondPassAtEnd;
  if (keepsAudio) audio_.insert(audio_.end(), samples.begin(), samples.end());
  if (auto error = decoder_.process(samples); !error.empty()) return error;
  if (policy_.defaultMeanWeightFrames >= 0)
    decoder_.followSpeakerMean(policy_.defaultMeanWeightFrames);
  const std::string segmentText = decoder_.hypothesis();
  showHypothesis(segmentText);
  const bool speaking = decoder_.inSpeech();
  segmentHeardSpeech_ = segmentHeardSpeech_ || speaking;
  if (segmentHeardSpeech_ && !speaking) return endSegment();
  if (firstWordsAt_ == 0 && !segmentText.empty()) firstWordsAt_ = audio_.size();
  if (!redecoded_ && firstWordsAt_ != 0 && policy_.redecodeAfterWordsSeconds >= 0 &&
      static_cast<double>(audio_.size() - firstWordsAt_) >=
          policy_.redecodeAfterWordsSeconds * 16000) {
    redecoded_ = true;
    return restartWithWarmMean();
  }
  return {};
}

std::string PocketSphinxUtterance::endSegment() {
  ++segments_;
  if (auto error = decoder_.endUtterance(); !error.empty()) return error;
  finishedText_ = joined(finishedText_, decoder_.hypothesis());
  shownBefore_ = hypothesis_;
  audio_.clear();
  firstWordsAt_ = 0;
  segmentHeardSpeech_ = false;
  return decoder_.startUtterance();
}

// Ending the utterance folds what it heard into the decoder's mean; decoding it again from the
// start then hears every word with that mean.
std::string PocketSphinxUtterance::restartWithWarmMean() {
  ++redecodes_;
  if (auto error = decoder_.endUtterance(); !error.empty()) return error;
  if (auto error = decoder_.startUtterance(); !error.empty()) return error;
  if (auto error = decoder_.process(audio_); !error.empty()) return error;
  showHypothesis(decoder_.hypothesis());
  return {};
}

std::string PocketSphinxUtterance::finish() {
  if (policy_.secondPassAtEnd && !audio_.empty()) {
    if (auto error = restartWithWarmMean(); !error.empty()) return error;
  }
  if (auto error = decoder_.endUtterance(); !error.empty()) return error;
  hypothesis_ = joined(finishedText_, decoder_.hypothesis());
  return {};
}

}  // namespace mic
