#pragma once

#include <string_view>

namespace mic {

// Whether the recognizer's error (its domain and code, as the platform reports them) is its own
// way of saying that it heard no speech, rather than a failure. The system's recognizer ends a task
// that heard nothing with such an error, whether the audio ran out or was ended (reported as
// "kAFAssistantErrorDomain" 1110, "No speech detected"; the Speech framework's own
// SFSpeechErrorDomain, from macOS 14, has no code for it).
bool isNoSpeechError(std::string_view domain, long code);

}  // namespace mic
