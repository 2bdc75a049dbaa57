#include "platform/linux/capture/linux_audio_input.h"

#include <optional>

#include "platform/linux/capture/alsa_capture.h"
#include "platform/linux/capture/frame_collector.h"
#include "platform/linux/capture/pulse_capture.h"
#include "platform/linux/capture/tap_slot.h"

namespace mic {
namespace {

constexpr uint32_t kDefaultBufferFrames = 1024;

bool usable(AudioFormat format) { return format.sampleRate > 0 && format.channelCount != 0; }

class LinuxAudioEngine final : public AudioEngine, private AudioInputNode {
 public:
  explicit LinuxAudioEngine(std::shared_ptr<PulseConnection> pulse) : pulse_(std::move(pulse)) {}
  ~LinuxAudioEngine() override {
    if (source_) source_->stop();
  }

  AudioInputNode& inputNode() override { return *this; }
  void prepare() override { source(); }
  std::optional<std::string> start() override;
  bool isRunning() const override { return source_ && source_->isRunning(); }
  void stop() override {
    if (source_) source_->stop();
  }
  void setCaptureEndedHandler(std::function<void()> handler) override {
    captureEnded_ = std::move(handler);
  }

 private:
  AudioFormat outputFormatForBus(uint32_t bus) override {
    return bus == 0 ? source().format() : AudioFormat{};
  }
  void installTap(uint32_t bus, uint32_t bufferSize, AudioFormat format,
                  AudioTapBlock block) override;
  void removeTap(uint32_t bus) override {
    if (bus == 0) tap_.remove();
  }

  // Decided on first use: the sound server when one answered, ALSA when none runs.
  CaptureSource& source();

  std::shared_ptr<PulseConnection> pulse_;
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
  if (!source_) {
    if (pulse_->waitSettled() == PulseReach::noServer) {
      source_ = makeAlsaCaptureSource();
    } else {
      source_ = makePulseCaptureSource(pulse_);
    }
  }
  return *source_;
}

void LinuxAudioEngine::installTap(uint32_t bus, uint32_t bufferSize, AudioFormat format,
                                  AudioTapBlock block) {
  if (bus != 0) return;
  tapFrames_ = bufferSize ? bufferSize : kDefaultBufferFrames;
  tapFormat_ = usable(format) ? std::optional(format) : std::nullopt;
  tap_.install(std::move(block));
}

std::optional<std::string> LinuxAudioEngine::start() {
  CaptureSource& capture = source();
  if (capture.isRunning()) return std::nullopt;
  capture.stop();
  // The server or plughw converts when the tap asked for another format than the microphone's.
  const AudioFormat format = tapFormat_ ? *tapFormat_ : capture.format();
  collector_.emplace(
      format, tapFrames_,
      [this](const AudioPCMBuffer& buffer, const AudioTime& when) { tap_.deliver(buffer, when); });
  if (Status started = capture.start(format, *collector_, captureEnded_); !started.ok()) {
    return started.message();
  }
  return std::nullopt;
}

class LinuxAudioInputService final : public AudioInputService {
 public:
  void requestMicrophoneAccess(std::function<void(bool granted)> handler) override {
    // No server at all is not a refusal: the format check reports the missing microphone.
    connection()->whenSettled([handler = std::move(handler)](PulseReach reach) {
      handler(reach != PulseReach::accessDenied);
    });
  }

  std::unique_ptr<AudioEngine> makeEngine() override {
    return std::make_unique<LinuxAudioEngine>(connection());
  }

 private:
  // Connecting starts with the first need, usually the engine made at start-up, so the server
  // has answered long before the format is asked for.
  const std::shared_ptr<PulseConnection>& connection() {
    if (!pulse_) pulse_ = connectToPulseServer();
    return pulse_;
  }

  std::shared_ptr<PulseConnection> pulse_;
};

}  // namespace

std::unique_ptr<AudioInputService> makeLinuxAudioInputService() {
  return std::make_unique<LinuxAudioInputService>();
}

}  // namespace mic
