#include "platform/linux/capture/linux_audio_input.h"

#include <optional>

#include "platform/linux/capture/alsa_capture.h"
#include "platform/linux/capture/frame_collector.h"
#include "platform/linux/capture/pulse_capture.h"
#include "platform/linux/capture/tap_slot.h"

namespace mic {
namespace {

constexpr uint32_t kDefaultBufferFrames = 1024;
// Reported when the microphone's format could not be found out: a failure is not a missing
// microphone, so the session goes on to start(), which reports the failure's own reason.
constexpr AudioFormat kStandIn{16000, 1};

bool usable(AudioFormat format) { return format.sampleRate > 0 && format.channelCount != 0; }

class LinuxAudioEngine final : public AudioEngine, private AudioInputNode {
 public:
  explicit LinuxAudioEngine(CaptureSourceFactory makeSource) : makeSource_(std::move(makeSource)) {}
  ~LinuxAudioEngine() override {
    if (source_) source_->stop();
  }

  AudioInputNode& inputNode() override { return *this; }
  void prepare() override { source(); }
  Status start() override;
  bool isRunning() const override { return source_ && source_->isRunning(); }
  void stop() override {
    if (source_) source_->stop();
  }
  void setCaptureEndedHandler(std::function<void()> handler) override {
    captureEnded_ = std::move(handler);
  }

 private:
  AudioFormat outputFormatForBus(uint32_t bus) override {
    if (bus != 0) return {};
    const Result<AudioFormat> format = source().format();
    return format ? *format : kStandIn;
  }
  void installTap(uint32_t bus, uint32_t bufferSize, AudioFormat format,
                  AudioTapBlock block) override;
  void removeTap(uint32_t bus) override {
    if (bus == 0) tap_.remove();
  }

  // Made on first use.
  CaptureSource& source();

  CaptureSourceFactory makeSource_;
  std::unique_ptr<CaptureSource> source_;
  TapSlot tap_;
  uint32_t tapFrames_ = kDefaultBufferFrames;
  std::optional<AudioFormat> tapFormat_;
  // Main thread; each start hands the capture source a copy.
  std::function<void()> captureEnded_;
  // Rebuilt by start() while no capture runs; then used only by the capture thread.
  std::optional<FrameCollector> collector_;
};

CaptureSource& LinuxAudioEngine::source() {
  if (!source_) source_ = makeSource_();
  return *source_;
}

void LinuxAudioEngine::installTap(uint32_t bus, uint32_t bufferSize, AudioFormat format,
                                  AudioTapBlock block) {
  if (bus != 0) return;
  tapFrames_ = bufferSize ? bufferSize : kDefaultBufferFrames;
  tapFormat_ = usable(format) ? std::optional(format) : std::nullopt;
  tap_.install(std::move(block));
}

Status LinuxAudioEngine::start() {
  CaptureSource& capture = source();
  if (capture.isRunning()) return {};
  capture.stop();
  const Result<AudioFormat> native = capture.format();
  if (!native) return native.status();
  // The server or plughw converts when the tap asked for another format than the microphone's.
  const AudioFormat format = tapFormat_ ? *tapFormat_ : *native;
  collector_.emplace(
      format, tapFrames_,
      [this](const AudioPCMBuffer& buffer, const AudioTime& when) { tap_.deliver(buffer, when); });
  return capture.start(format, *collector_, captureEnded_);
}

class LinuxAudioInputService final : public AudioInputService {
 public:
  void requestMicrophoneAccess(std::function<void(bool granted)> handler) override {
    // No server at all is not a refusal: the format check reports the missing microphone.
    // The server runs its handlers while it exists, so the plain pointer stays good.
    connection()->whenSettled([server = connection().get(), handler = std::move(handler)](
                                  const Status&) { handler(!server->accessDenied()); });
  }

  std::unique_ptr<AudioEngine> makeEngine() override {
    // Decided on first use: the sound server when one answered, ALSA when none runs.
    return makeLinuxAudioEngine([server = connection()]() -> std::unique_ptr<CaptureSource> {
      if (!server->waitSettled().ok() && server->noServer()) return makeAlsaCaptureSource();
      return makePulseCaptureSource(server);
    });
  }

 private:
  // Connecting starts with the first need, usually the engine made at start-up, so the server
  // has answered long before the format is asked for.
  const std::shared_ptr<PulseServer>& connection() {
    if (!pulse_) pulse_ = std::make_shared<PulseServer>();
    return pulse_;
  }

  std::shared_ptr<PulseServer> pulse_;
};

}  // namespace

std::unique_ptr<AudioEngine> makeLinuxAudioEngine(CaptureSourceFactory makeSource) {
  return std::make_unique<LinuxAudioEngine>(std::move(makeSource));
}

std::unique_ptr<AudioInputService> makeLinuxAudioInputService() {
  return std::make_unique<LinuxAudioInputService>();
}

}  // namespace mic
