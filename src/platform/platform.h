#pragma once

#include <memory>

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

}  // namespace mic
