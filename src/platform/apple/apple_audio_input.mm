#include "platform/apple/apple_audio_input.h"

#import <AVFoundation/AVFoundation.h>
#import <Foundation/Foundation.h>

#include <cmath>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/apple/apple_strings.h"
#include "platform/apple/capture_recovery.h"
#include "platform/apple/channel_mix.h"

namespace mic {
namespace {

// An AVAudioPCMBuffer seen through the platform-neutral interface, for the length of one tap call.
class NativeAudioBuffer final : public AudioPCMBuffer {
 public:
  explicit NativeAudioBuffer(AVAudioPCMBuffer* buffer) : buffer_(buffer) {}

  AVAudioPCMBuffer* native() const { return buffer_; }

  AudioFormat format() const override {
    AVAudioFormat* format = buffer_.format;
    return AudioFormat{format.sampleRate, format.channelCount};
  }

  uint32_t frameLength() const override { return buffer_.frameLength; }

  // Only float samples stored frame after frame (mono, or interleaved) have this view. The input
  // node's usual deinterleaved layout has none; the speech request reads the native buffer.
  std::span<const float> interleavedSamples() const override {
    float* const* channels = buffer_.floatChannelData;
    const uint32_t channelCount = buffer_.format.channelCount;
    if (channels == nullptr || channelCount == 0 || buffer_.stride != channelCount) return {};
    return {channels[0], static_cast<size_t>(buffer_.frameLength) * channelCount};
  }

 private:
  AVAudioPCMBuffer* buffer_;
};

class AppleAudioEngine;

// Shared by the engine, its node and the tap blocks AVFoundation keeps. Every tap call runs under
// the mutex, so once removeTap or stop has taken it and closed the way, no call is running and
// none will start: AVFoundation itself does not promise that.
struct TapGate {
  std::mutex mutex;
  std::map<uint32_t, AudioTapBlock> blocks;  // one per bus
  bool open = false;                         // while capture the session started is wanted
  std::function<void()> captureEnded;        // taken by the first end of capture
  // The mono format of the first buffer, which every later one is delivered in, and the converter
  // from another input's rate to it.
  AVAudioFormat* _Nullable firstFormat = nil;
  AVAudioConverter* _Nullable converter = nil;
  CaptureRecovery* _Nullable recovery = nullptr;  // the engine's, until it is destroyed
  // Main thread only: the engine, until it is destroyed.
  AppleAudioEngine* _Nullable owner = nullptr;
};

// `buffer` with every channel mixed into one (mixToMono), or nil for samples that are not float.
// The recognizer is reported to return nothing for buffers of more channels, and the framework's
// converter copies one channel or, for interfaces whose channels have no standard layout, gives
// silence, so a microphone on input 2 of an interface would not be heard.
AVAudioPCMBuffer* _Nullable inMono(AVAudioPCMBuffer* buffer) {
  AVAudioFormat* format = buffer.format;
  const AVAudioChannelCount channelCount = format.channelCount;
  float* const* data = buffer.floatChannelData;
  if (data == nullptr || channelCount == 0) return nil;
  if (channelCount == 1 && buffer.stride == 1) return buffer;
  AVAudioFormat* mono = [[AVAudioFormat alloc] initStandardFormatWithSampleRate:format.sampleRate
                                                                       channels:1];
  if (mono == nil) return nil;
  AVAudioPCMBuffer* mixed = [[AVAudioPCMBuffer alloc] initWithPCMFormat:mono
                                                          frameCapacity:buffer.frameLength];
  if (mixed == nil || mixed.floatChannelData == nullptr) return nil;
  mixed.frameLength = buffer.frameLength;
  // Interleaved samples have one array, channel after channel within each frame.
  const bool interleaved = format.interleaved;
  std::vector<const float*> channels(channelCount);
  for (AVAudioChannelCount c = 0; c < channelCount; ++c)
    channels[c] = interleaved ? data[0] + c : data[c];
  mixToMono(channels, interleaved ? buffer.stride : 1,
            {mixed.floatChannelData[0], static_cast<size_t>(buffer.frameLength)});
  return mixed;
}

// `buffer` in the first buffer's format, or nil when it cannot be converted. Apple documents
// appendAudioPCMBuffer: only as taking audio "in a native format", not whether one request takes
// buffers of a second format after a device change; so after such a change the buffers are
// converted back here to the first rate, and the request and the session go on seeing one format.
AVAudioPCMBuffer* _Nullable inFirstFormat(TapGate& gate, AVAudioPCMBuffer* buffer) {
  AVAudioFormat* format = buffer.format;
  if (gate.firstFormat == nil) gate.firstFormat = format;
  AVAudioFormat* first = gate.firstFormat;
  if ([format isEqual:first]) return buffer;
  if (gate.converter == nil || ![gate.converter.inputFormat isEqual:format])
    gate.converter = [[AVAudioConverter alloc] initFromFormat:format toFormat:first];
  AVAudioConverter* converter = gate.converter;
  if (converter == nil) return nil;
  const double frames = std::ceil(buffer.frameLength * first.sampleRate / format.sampleRate);
  AVAudioPCMBuffer* converted =
      [[AVAudioPCMBuffer alloc] initWithPCMFormat:first
                                    frameCapacity:static_cast<AVAudioFrameCount>(frames) + 1];
  if (converted == nil) return nil;
  __block bool handedOver = false;
  NSError* error = nil;
  const AVAudioConverterOutputStatus status =
      [converter convertToBuffer:converted
                           error:&error
              withInputFromBlock:^AVAudioBuffer* _Nullable(AVAudioPacketCount,
                                                           AVAudioConverterInputStatus* outStatus) {
                // One buffer a call: the converter keeps what it needs of it for the next one.
                if (handedOver) {
                  *outStatus = AVAudioConverterInputStatus_NoDataNow;
                  return nil;
                }
                handedOver = true;
                *outStatus = AVAudioConverterInputStatus_HaveData;
                return buffer;
              }];
  if (status == AVAudioConverterOutputStatus_Error || converted.frameLength == 0) return nil;
  return converted;
}

void deliverToTap(const std::weak_ptr<TapGate>& weakGate, uint32_t bus, AVAudioPCMBuffer* buffer,
                  AVAudioTime* when) {
  const std::shared_ptr<TapGate> gate = weakGate.lock();
  if (!gate) return;
  @autoreleasepool {
    const AudioTime time{when.sampleTimeValid ? static_cast<uint64_t>(when.sampleTime) : 0};
    std::lock_guard lock(gate->mutex);
    if (!gate->open) return;
    AVAudioPCMBuffer* delivered = nil;
    @try {
      AVAudioPCMBuffer* mono = inMono(buffer);
      if (mono == nil) return;
      // Only sound shows that a restart worked: an engine just started may hand out zeros.
      if (gate->recovery != nullptr)
        gate->recovery->noteBuffer(
            {mono.floatChannelData[0], static_cast<size_t>(mono.frameLength)});
      delivered = inFirstFormat(*gate, mono);
    } @catch (NSException*) {
      // A buffer the converter refuses is dropped; the audio thread must not unwind.
    }
    if (delivered == nil) return;
    const NativeAudioBuffer wrapped(delivered);
    const auto found = gate->blocks.find(bus);
    if (found != gate->blocks.end() && found->second) found->second(wrapped, time);
  }
}

class AppleInputNode final : public AudioInputNode {
 public:
  // `engine` is the engine's field for the framework's engine of the moment, which a restart
  // after a device change replaces.
  AppleInputNode(AVAudioEngine* __strong& engine, std::shared_ptr<TapGate> gate)
      : engine_(engine), gate_(std::move(gate)) {}

  // The hardware side of the input. On a Mac without a microphone (mini, Studio, Pro) the output
  // side can read 2 channels at 44.1 kHz while the hardware reads none, and after a device change
  // it can keep the old rate; a tap installed in it then raises.
  AudioFormat outputFormatForBus(uint32_t bus) override { return hardwareFormat(engine_, bus); }

  static AudioFormat hardwareFormat(AVAudioEngine* engine, uint32_t bus) {
    @autoreleasepool {
      @try {
        AVAudioFormat* format = [engine.inputNode inputFormatForBus:bus];
        return AudioFormat{format.sampleRate, format.channelCount};
      } @catch (NSException*) {
        return AudioFormat{};  // no usable input
      }
    }
  }

  void installTap(uint32_t bus, uint32_t bufferSize, AudioFormat format,
                  AudioTapBlock block) override {
    {
      std::lock_guard lock(gate_->mutex);
      gate_->blocks[bus] = std::move(block);
    }
    if (auto failure = installOnEngine(bus, bufferSize, format)) {
      forgetTap(bus);
      if (!setupFailure_) setupFailure_ = std::move(failure);
    }
  }

  // The tap the session installed, on the framework's engine of the moment: after a restart,
  // the fresh one. Its calls reach the block the session gave, kept in the gate.
  std::optional<std::string> installOnEngine(uint32_t bus, uint32_t bufferSize,
                                             AudioFormat format) {
    installedTap_ = InstalledTap{bus, bufferSize, format};
    std::optional<std::string> failure;
    @autoreleasepool {
      @try {
        AVAudioInputNode* node = engine_.inputNode;
        AVAudioFormat* tapFormat = tapFormatFor(node, bus, format);
        if (tapFormat == nil) {
          failure = "the audio format is not supported";
        } else {
          // The block holds the gate weakly: AVFoundation may keep it after we are gone.
          std::weak_ptr<TapGate> weakGate = gate_;
          [node installTapOnBus:bus
                     bufferSize:bufferSize
                         format:tapFormat
                          block:^(AVAudioPCMBuffer* buffer, AVAudioTime* when) {
                            deliverToTap(weakGate, bus, buffer, when);
                          }];
        }
      } @catch (NSException* exception) {
        failure = describeException(exception);
      }
    }
    return failure;
  }

  void removeTap(uint32_t bus) override {
    if (installedTap_ && installedTap_->bus == bus) installedTap_.reset();
    removeFromEngine(engine_, bus);
    forgetTap(bus);
  }

  static void removeFromEngine(AVAudioEngine* engine, uint32_t bus) {
    @autoreleasepool {
      @try {
        [engine.inputNode removeTapOnBus:bus];
      } @catch (NSException*) {
        // Nothing was installed there; the gate still guarantees silence.
      }
    }
  }

  struct InstalledTap {
    uint32_t bus = 0;
    uint32_t bufferSize = 0;
    AudioFormat format;
  };
  // The tap the session installed, to install again after a device change.
  const std::optional<InstalledTap>& installedTap() const { return installedTap_; }

  // A failure found while setting up, reported by the engine's start.
  std::optional<std::string> takeSetupFailure() { return std::exchange(setupFailure_, {}); }
  void noteSetupFailure(std::string failure) {
    if (!setupFailure_) setupFailure_ = std::move(failure);
  }

 private:
  // The node's own format object when the numbers match, so buffers come unconverted.
  static AVAudioFormat* _Nullable tapFormatFor(AVAudioInputNode* node, uint32_t bus,
                                               AudioFormat format) {
    AVAudioFormat* own = [node outputFormatForBus:bus];
    if (own.sampleRate == format.sampleRate && own.channelCount == format.channelCount) return own;
    return [[AVAudioFormat alloc] initStandardFormatWithSampleRate:format.sampleRate
                                                          channels:format.channelCount];
  }

  void forgetTap(uint32_t bus) {
    AudioTapBlock released;
    {
      std::lock_guard lock(gate_->mutex);
      const auto found = gate_->blocks.find(bus);
      if (found == gate_->blocks.end()) return;
      released = std::move(found->second);
      gate_->blocks.erase(found);
    }
    // `released` goes outside the lock: it may hold the last reference to its owner.
  }

  AVAudioEngine* __strong& engine_;
  const std::shared_ptr<TapGate> gate_;
  std::optional<std::string> setupFailure_;   // main thread only
  std::optional<InstalledTap> installedTap_;  // main thread only
};

void onConfigurationChange(const std::weak_ptr<TapGate>& weakGate, uint64_t generation);

// How long an engine replaced after a device change is kept: its tap is out and it is stopped,
// so nothing of it calls in once a tap call already under way has returned.
constexpr double kRetiredEngineLife = 2.0;

class AppleAudioEngine final : public AudioEngine, private RecoverableCapture {
 public:
  AppleAudioEngine(MainLoop& loop, MonotonicClock& clock)
      : loop_(loop),
        engine_([[AVAudioEngine alloc] init]),
        gate_(std::make_shared<TapGate>()),
        node_(engine_, gate_),
        recovery_(*this, loop, clock) {
    gate_->owner = this;
    gate_->recovery = &recovery_;
    observe(engine_);
  }

  ~AppleAudioEngine() override {
    {
      std::lock_guard lock(gate_->mutex);
      gate_->recovery = nullptr;
    }
    gate_->owner = nullptr;
    [NSNotificationCenter.defaultCenter removeObserver:observer_];
    stop();
  }

  // Main thread: the engine `generation` said its configuration changed.
  void configurationChanged(uint64_t generation) {
    if (generation == generation_) recovery_.onConfigurationChange();
  }

  AudioInputNode& inputNode() override { return node_; }

  void prepare() override {
    @autoreleasepool {
      @try {
        [engine_ prepare];
      } @catch (NSException* exception) {
        node_.noteSetupFailure(describeException(exception));
      }
    }
  }

  Status start() override {
    if (auto failure = node_.takeSetupFailure()) return Status::failure(*failure);
    setOpen(true);  // before starting, so the first buffers are not lost
    if (auto failure = startEngine()) {
      setOpen(false);
      return Status::failure(*failure);
    }
    return {};
  }

  bool isRunning() const override { return engine_.running; }

  void stop() override {
    @autoreleasepool {
      @try {
        [engine_ stop];
      } @catch (NSException*) {
        // Stopping an engine that never ran; the gate below is what matters.
      }
    }
    setOpen(false);
  }

  void setCaptureEndedHandler(std::function<void()> handler) override {
    std::lock_guard lock(gate_->mutex);
    gate_->captureEnded = std::move(handler);
  }

 private:
  // A change of the audio hardware's rate or channels (a headset switching profile, a device
  // plugged in or chosen) stops and uninitialises the engine with nothing but this notification
  // to say so, posted on an internal queue where the engine must not be torn down. What to do
  // about it is decided on the main thread, and only for the engine of the moment.
  void observe(AVAudioEngine* engine) {
    if (observer_ != nil) [NSNotificationCenter.defaultCenter removeObserver:observer_];
    const uint64_t generation = ++generation_;
    std::weak_ptr<TapGate> weakGate = gate_;
    MainLoop* loop = &loop_;
    observer_ = [NSNotificationCenter.defaultCenter
        addObserverForName:AVAudioEngineConfigurationChangeNotification
                    object:engine
                     queue:nil
                usingBlock:^(NSNotification*) {
                  loop->post(
                      [weakGate, generation] { onConfigurationChange(weakGate, generation); });
                }];
  }

  std::optional<std::string> startEngine() {
    std::optional<std::string> failure;
    @autoreleasepool {
      @try {
        NSError* error = nil;
        if (![engine_ startAndReturnError:&error]) {
          failure = error != nil ? toStdString(error.localizedDescription)
                                 : std::string("the audio engine did not start");
        }
      } @catch (NSException* exception) {
        failure = describeException(exception);
      }
    }
    return failure;
  }

  void setOpen(bool open) {
    std::lock_guard lock(gate_->mutex);
    gate_->open = open;
  }

  // RecoverableCapture, for the recovery after a device change. Main thread.
  bool wanted() override {
    std::lock_guard lock(gate_->mutex);
    return gate_->open;
  }

  bool running() override { return engine_.running; }

  AudioFormat tapFormat() override {
    const auto& tap = node_.installedTap();
    return tap ? tap->format : AudioFormat{};
  }

  // Read from a fresh engine, the one the restart will use: the torn-down one may still tell of
  // the hardware before the change.
  AudioFormat inputFormat() override {
    @autoreleasepool {
      fresh_ = [[AVAudioEngine alloc] init];
      const auto& tap = node_.installedTap();
      return AppleInputNode::hardwareFormat(fresh_, tap ? tap->bus : 0);
    }
  }

  // Apps that ship on AVAudioEngine capture again through a fresh engine after a change: the one
  // that tore itself down does not reliably start again. The session's engine object stays; the
  // framework's engine inside it is replaced.
  Status restart(AudioFormat format) override {
    const std::optional<AppleInputNode::InstalledTap> tap = node_.installedTap();
    if (!tap) return Status::failure("no tap to install again");
    AVAudioEngine* fresh = fresh_ != nil ? fresh_ : [[AVAudioEngine alloc] init];
    fresh_ = nil;
    retire(engine_, tap->bus);
    engine_ = fresh;
    observe(engine_);
    if (auto failure = node_.installOnEngine(tap->bus, tap->bufferSize, format))
      return Status::failure(*failure);
    @autoreleasepool {
      @try {
        [engine_ prepare];
      } @catch (NSException* exception) {
        return Status::failure(describeException(exception));
      }
    }
    if (auto failure = startEngine()) return Status::failure(*failure);
    return {};
  }

  // The engine replaced: its tap out, stopped, its notifications no longer heard, and released a
  // while later on the main queue. Never inside its own notification (a crash), and not while a
  // tap call of its own may still be returning.
  void retire(AVAudioEngine* old, uint32_t bus) {
    AppleInputNode::removeFromEngine(old, bus);
    @autoreleasepool {
      @try {
        [old stop];
      } @catch (NSException*) {
        // It had stopped itself.
      }
    }
    loop_.postAfter(kRetiredEngineLife, [old] { (void)old; });
  }

  // Capture is over: no input is left after a change, or capture would not start again.
  void end() override {
    std::function<void()> handler;
    {
      std::lock_guard lock(gate_->mutex);
      gate_->open = false;
      handler = std::exchange(gate_->captureEnded, nullptr);
    }
    if (handler) handler();
  }

  MainLoop& loop_;
  AVAudioEngine* engine_;  // the framework's engine of the moment; main thread only
  const std::shared_ptr<TapGate> gate_;
  AppleInputNode node_;
  CaptureRecovery recovery_;
  id<NSObject> _Nullable observer_ = nil;
  uint64_t generation_ = 0;               // of engine_, to know its notifications from older ones
  AVAudioEngine* _Nullable fresh_ = nil;  // read for its format, for the restart to use
};

void onConfigurationChange(const std::weak_ptr<TapGate>& weakGate, uint64_t generation) {
  const std::shared_ptr<TapGate> gate = weakGate.lock();
  if (gate && gate->owner != nullptr) gate->owner->configurationChanged(generation);
}

class AppleAudioInputService final : public AudioInputService {
 public:
  AppleAudioInputService(MainLoop& loop, MonotonicClock& clock) : loop_(loop), clock_(clock) {}

  void requestMicrophoneAccess(std::function<void(bool granted)> handler) override {
    @autoreleasepool {
      [AVCaptureDevice requestAccessForMediaType:AVMediaTypeAudio
                               completionHandler:^(BOOL granted) {
                                 handler(granted != NO);
                               }];
    }
  }

  std::unique_ptr<AudioEngine> makeEngine() override {
    @autoreleasepool {
      return std::make_unique<AppleAudioEngine>(loop_, clock_);
    }
  }

 private:
  MainLoop& loop_;
  MonotonicClock& clock_;
};

}  // namespace

std::unique_ptr<AudioInputService> makeAppleAudioInputService(MainLoop& loop,
                                                              MonotonicClock& clock) {
  return std::make_unique<AppleAudioInputService>(loop, clock);
}

AVAudioPCMBuffer* _Nullable nativeAudioBuffer(const AudioPCMBuffer& buffer) {
  const auto* native = dynamic_cast<const NativeAudioBuffer*>(&buffer);
  return native != nullptr ? native->native() : nil;
}

}  // namespace mic
