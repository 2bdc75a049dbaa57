#pragma once

#include <memory>
#include <optional>

#include "platform/audio_input.h"
#include "platform/locale.h"
#include "platform/main_loop.h"
#include "platform/process.h"
#include "platform/speech_recognition.h"

namespace mic {

// Every service the program takes from the operating system. The references stay valid for
// the life of the process.
struct Platform {
  SpeechRecognitionService& speech;
  AudioInputService& audio;
  MainLoop& mainLoop;
  MonotonicClock& clock;
  Locales& locales;
  Process& process;
};

// The services of the platform this program was built for: one implementation per platform,
// picked by the build.
class PlatformServices {
 public:
  virtual ~PlatformServices() = default;
  virtual Platform platform() = 0;
};

std::unique_ptr<PlatformServices> makePlatformServices();

// Where supported, makes the program its own responsible process before it asks for anything:
// it starts a copy of itself that answers for its own permission requests, with the same
// arguments, environment and standard streams, and waits for it. Returns the status this first
// process then exits with; nothing when the program simply runs on (the copy itself, or a system
// that cannot do this).
std::optional<int> relaunchAsOwnResponsibleProcess(char** argv);

}  // namespace mic
