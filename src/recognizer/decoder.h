#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "platform/status.h"

namespace mic {

// One engine's recognizer for one utterance (all the audio of one request, from start to finish;
// an engine may decode it in segments, the parts between the speaker's pauses): 16 kHz mono 16-bit
// samples in, the whole hypothesis out. Made by a SpeechModel's load on one thread and then used
// by one worker thread at a time. Failures come back as the engine's own words.
class Decoder {
 public:
  virtual ~Decoder() = default;

  virtual Status start() = 0;
  virtual Status feed(std::span<const int16_t> samples) = 0;
  // No more audio: the hypothesis becomes the final one.
  virtual Status finish() = 0;

  // The whole transcription so far; after finish, the final one. It may rewrite earlier words or
  // shrink.
  virtual const std::string& hypothesis() const = 0;
  // Whether the engine counts the audio fed last as speech; false once it hears a pause.
  virtual bool inSpeech() const = 0;
};

}  // namespace mic
