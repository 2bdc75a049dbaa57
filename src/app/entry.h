#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "session/speech_session.h"

namespace mic {

// Set once at start-up and kept until the process exits.
extern std::vector<std::string> arguments;
extern std::shared_ptr<SpeechSession> session;

// Stores the arguments, creates and starts the one session, then hands the calling thread to
// the main loop. Returns only if the loop ever does, with the status the program then ends with.
int runEntry(int argc, const char* const* argv, Platform platform, EmitFunction emit);

}  // namespace mic
