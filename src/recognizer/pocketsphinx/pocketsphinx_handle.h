#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/status.h"
#include "recognizer/pocketsphinx/model_locator.h"

struct ps_decoder_s;

namespace mic {

// Routes the library's log into our own capture instead of stderr. Idempotent; must run before
// anything else touches the library, since config parsing already logs.
void silencePocketSphinxLog();
// The last error the library logged on this thread, without its source-file prefix, and forgets
// it; empty when there was none. The library tells why something failed only in its log.
std::string takePocketSphinxError();

// The library's decoder handle, for 16 kHz mono 16-bit audio. Used by one thread at a time (it may
// be loaded on one thread and used on another). Failures come back as the library's own words.
class PocketSphinxHandle {
 public:
  // Loads the model: most of a short run's CPU (bench/README.md, "Model load"). Loads are
  // serialized, because the library keeps its log target in global state.
  // `vocabulary`: the language model's words, when checkModel gave them.
  static Result<std::unique_ptr<PocketSphinxHandle>> load(const ModelPaths& model,
                                                          std::string_view vocabulary = {});
  ~PocketSphinxHandle();
  PocketSphinxHandle(const PocketSphinxHandle&) = delete;
  PocketSphinxHandle& operator=(const PocketSphinxHandle&) = delete;

  // A segment is what the library calls an utterance: the audio between its start and its end.
  Status startSegment();
  Status process(std::span<const int16_t> samples);
  Status endSegment();

  // The segment's whole best hypothesis so far (after endSegment: its final one).
  std::string hypothesis();
  // Whether the library's voice activity detector counts the audio processed last as speech. It
  // turns false 0.3 s into a pause.
  bool inSpeech();
  // Moves the cepstral mean to the speech heard so far, the model's default counting for
  // `defaultWeightFrames` frames (10 ms each).
  void followSpeakerMean(double defaultWeightFrames);

 private:
  explicit PocketSphinxHandle(ps_decoder_s* decoder) : decoder_(decoder) {}
  static Status failure(const char* what);

  ps_decoder_s* decoder_;
  std::vector<float> defaultMean_;  // the model's initial cepstral mean
};

}  // namespace mic
