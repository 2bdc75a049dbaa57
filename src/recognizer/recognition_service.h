#pragma once

#include <memory>

#include "platform/speech_recognition.h"
#include "recognizer/speech_model.h"

namespace mic {

// Speech recognition entirely on this machine, with whichever engine's models `locate` finds.
// Each task runs on a recognizer thread of its own; captured audio is queued, converted to the
// decoders' 16 kHz mono and decoded there, and every report comes from that thread.
std::unique_ptr<SpeechRecognitionService> makeRecognitionService(SpeechModelLocator locate);

}  // namespace mic
