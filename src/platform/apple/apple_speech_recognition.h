#pragma once

#include <memory>

#include "platform/speech_recognition.h"

namespace mic {

// The Speech framework's recognizer. Requests accept only buffers from the Apple audio input
// service.
std::unique_ptr<SpeechRecognitionService> makeAppleSpeechRecognitionService();

}  // namespace mic
