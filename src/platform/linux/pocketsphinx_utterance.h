#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "platform/linux/pocketsphinx_decoder.h"

namespace mic {

// How an utterance makes up for the cold start of cepstral mean normalization: each process starts
// from the model's default mean, which fits the speaker's microphone poorly until the decoder has
// seen some of their audio.
struct WarmUpPolicy {
  // Once this much audio has followed the first words, decode the utterance again from its start
  // with the mean estimated so far, then keep streaming. Negative: never.
  double redecodeAfterWordsSeconds = 1.0;
  // Decode the whole utterance a second time when it ends (costs its length times the real-time
  // factor at the end; off by default).
  bool secondPassAtEnd = false;
};

// One utterance through a decoder: 16 kHz samples in, the whole hypothesis out. Single-threaded.
class PocketSphinxUtterance {
 public:
  PocketSphinxUtterance(PocketSphinxDecoder& decoder, WarmUpPolicy policy);

  // Each returns an error description, or an empty string on success.
  std::string start();
  std::string feed(std::span<const int16_t> samples);
  std::string finish();

  // The whole transcription so far; after finish, the final one.
  const std::string& hypothesis() const { return hypothesis_; }
  // How many times the audio so far was decoded again (for the accuracy measurements).
  int redecodes() const { return redecodes_; }

 private:
  std::string restartWithWarmMean();

  PocketSphinxDecoder& decoder_;
  WarmUpPolicy policy_;
  std::vector<int16_t> audio_;  // the whole utterance, for decoding it again
  size_t firstWordsAt_ = 0;     // samples in audio_ when words first appeared; 0: none yet
  bool redecoded_ = false;
  int redecodes_ = 0;
  std::string hypothesis_;
};

}  // namespace mic
