#include "platform/linux/pocketsphinx_utterance.h"

namespace mic {

PocketSphinxUtterance::PocketSphinxUtterance(PocketSphinxDecoder& decoder, WarmUpPolicy policy)
    : decoder_(decoder), policy_(policy) {}

std::string PocketSphinxUtterance::start() {
  audio_.clear();
  firstWordsAt_ = 0;
  redecoded_ = false;
  hypothesis_.clear();
  return decoder_.startUtterance();
}

std::string PocketSphinxUtterance::feed(std::span<const int16_t> samples) {
  if (samples.empty()) return {};
  audio_.insert(audio_.end(), samples.begin(), samples.end());
  if (auto error = decoder_.process(samples); !error.empty()) return error;
  hypothesis_ = decoder_.hypothesis();
  if (firstWordsAt_ == 0 && !hypothesis_.empty()) firstWordsAt_ = audio_.size();
  if (!redecoded_ && firstWordsAt_ != 0 && policy_.redecodeAfterWordsSeconds >= 0 &&
      static_cast<double>(audio_.size() - firstWordsAt_) >=
          policy_.redecodeAfterWordsSeconds * 16000) {
    redecoded_ = true;
    return restartWithWarmMean();
  }
  return {};
}

// Ending the utterance folds what it heard into the decoder's mean; decoding it again from the
// start then hears every word with that mean.
std::string PocketSphinxUtterance::restartWithWarmMean() {
  ++redecodes_;
  if (auto error = decoder_.endUtterance(); !error.empty()) return error;
  if (auto error = decoder_.startUtterance(); !error.empty()) return error;
  if (auto error = decoder_.process(audio_); !error.empty()) return error;
  hypothesis_ = decoder_.hypothesis();
  return {};
}

std::string PocketSphinxUtterance::finish() {
  if (policy_.secondPassAtEnd && !audio_.empty()) {
    if (auto error = restartWithWarmMean(); !error.empty()) return error;
  }
  if (auto error = decoder_.endUtterance(); !error.empty()) return error;
  hypothesis_ = decoder_.hypothesis();
  return {};
}

}  // namespace mic
