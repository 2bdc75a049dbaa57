#include "platform/linux/capture/linux_audio_input.h"
#include "platform/linux/detached_thread.h"
#include "platform/linux/large_pages.h"
#include "platform/linux/posix_locales.h"
#include "platform/linux/posix_process.h"
#include "platform/linux/run_loop.h"
#include "platform/linux/steady_clock.h"
#include "platform/platform.h"
#include "platform/stop_requests.h"
#include "recognizer/pocketsphinx/pocketsphinx_engine.h"

namespace mic {
namespace {

class LinuxPlatformServices : public PlatformServices {
 public:
  Platform platform() override { return {*speech_, *audio_, loop_, clock_, locales_, process_}; }

 private:
  // The recognizer first: it silences the speech library before anything else can make it talk.
  std::unique_ptr<SpeechRecognitionService> speech_ =
      makePocketSphinxService(MIC_POCKETSPHINX_MODEL_DIR);
  std::unique_ptr<AudioInputService> audio_ = makeLinuxAudioInputService();
  RunLoop loop_;
  SteadyClock clock_;
  PosixLocales locales_;
  PosixProcess process_;
};

}  // namespace

// Linux attributes no permission to the process that started the program: it always runs as it is.
std::optional<int> relaunchAsOwnResponsibleProcess(char**) { return std::nullopt; }

std::unique_ptr<PlatformServices> makePlatformServices() {
  // Before any service is made (main has guarded the standard streams already): from here on a
  // stop signal waits for the session instead of ending the process.
  catchStopSignals();
  useSmallThreadStacks();
  useLargePagesForModel();
  return std::make_unique<LinuxPlatformServices>();
}

}  // namespace mic
