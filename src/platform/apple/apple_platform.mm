#include "platform/platform.h"

#include "platform/apple/apple_audio_input.h"
#include "platform/apple/apple_locales.h"
#include "platform/apple/apple_main_loop.h"
#include "platform/apple/apple_process.h"
#include "platform/apple/apple_speech_recognition.h"
#include "platform/stop_requests.h"

namespace mic {
namespace {

class ApplePlatformServices final : public PlatformServices {
 public:
  Platform platform() override {
    return Platform{*speech_, *audio_, *mainLoop_, *clock_, *locales_, *process_};
  }

 private:
  // The loop and clock first: the audio service measures on them.
  const std::unique_ptr<MainLoop> mainLoop_ = makeAppleMainLoop();
  const std::unique_ptr<MonotonicClock> clock_ = makeAppleMonotonicClock();
  const std::unique_ptr<SpeechRecognitionService> speech_ = makeAppleSpeechRecognitionService();
  const std::unique_ptr<AudioInputService> audio_ = makeAppleAudioInputService(*mainLoop_, *clock_);
  const std::unique_ptr<Locales> locales_ = makeAppleLocales();
  const std::unique_ptr<Process> process_ = makeAppleProcess();
};

}  // namespace

std::unique_ptr<PlatformServices> makePlatformServices() {
  // Before any framework starts a thread: from here on a stop signal waits for the session
  // instead of ending the process. A first process never gets here: it waits for its copy.
  catchStopSignals();
  return std::make_unique<ApplePlatformServices>();
}

}  // namespace mic
