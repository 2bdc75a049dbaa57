#pragma once

#include <memory>
#include <string>

#include "platform/speech_recognition.h"

namespace mic {

// Speech recognition entirely on this machine with pocketsphinx. `modelRoot` holds one directory
// per installed model, laid out <name>/{<name>/, <name>.lm.bin, cmudict-<name>.dict}.
std::unique_ptr<SpeechRecognitionService> makePocketSphinxService(std::string modelRoot);

}  // namespace mic
