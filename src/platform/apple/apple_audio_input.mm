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

#include "platform/apple/apple_strings.h"
#include "platform/capture_recovery.h"

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
  bool open = false;                         // while the engine runs
  std::function<void()> captureEnded;        // taken by the first end of capture
  // The format of the first buffer, which every later one is delivered in, and the converter
  // from another input's format to it.
  AVAudioFormat* _Nullable firstFormat = nil;
  AVAudioConverter* _Nullable converter = nil;
  CaptureRecovery recovery;  // synchronizes itself
  // Main thread only: the engine, until it is destroyed.
  AppleAudioEngine* _Nullable owner = nullptr;
};

// `buffer` in the first buffer's format, or nil when it cannot be converted. Apple documents
// appendAudioPCMBuffer: only as taking audio "in a native format", not whether one request takes
// buffers of a second format after a device change; so after such a change the buffers are
// converted back here, and the request and the session go on seeing one format.
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
    gate->recovery.noteAudio();
    AVAudioPCMBuffer* delivered = nil;
    @try {
      delivered = inFirstFormat(*gate, buffer);
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
  AppleInputNode(AVAudioEngine* engine, std::shared_ptr<TapGate> gate)
      : engine_(engine), gate_(std::move(gate)) {}

  AudioFormat outputFormatForBus(uint32_t bus) override {
    @autoreleasepool {
      @try {
        AVAudioFormat* format = [engine_.inputNode outputFormatForBus:bus];
        return AudioFormat{format.sampleRate, format.channelCount};
      } @catch (NSException*) {
        return AudioFormat{};  // no usable input
      }
    }
  }

  void installTap(uint32_t bus, uint32_t bufferSize, AudioFormat format,
                  AudioTapBlock block) override {
    installedTap_ = CaptureRecovery::Tap{bus, bufferSize, block};
    {
      std::lock_guard lock(gate_->mutex);
      gate_->blocks[bus] = std::move(block);
    }
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
    if (failure) {
      forgetTap(bus);
      if (!setupFailure_) setupFailure_ = std::move(failure);
    }
  }

  void removeTap(uint32_t bus) override {
    if (installedTap_ && installedTap_->bus == bus) installedTap_.reset();
    @autoreleasepool {
      @try {
        [engine_.inputNode removeTapOnBus:bus];
      } @catch (NSException*) {
        // Nothing was installed there; the gate below still guarantees silence.
      }
    }
    forgetTap(bus);
  }

  // The tap the session installed, to install again after a device change.
  const std::optional<CaptureRecovery::Tap>& installedTap() const { return installedTap_; }

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

  AVAudioEngine* engine_;
  const std::shared_ptr<TapGate> gate_;
  std::optional<std::string> setupFailure_;           // main thread only
  std::optional<CaptureRecovery::Tap> installedTap_;  // main thread only
};

void onConfigurationChange(const std::weak_ptr<TapGate>& weakGate);

class AppleAudioEngine final : public AudioEngine {
 public:
  AppleAudioEngine()
      : engine_([[AVAudioEngine alloc] init]),
        gate_(std::make_shared<TapGate>()),
        node_(engine_, gate_) {
    gate_->owner = this;
    // A change of the audio hardware's rate or channels (a headset switching profile, a device
    // plugged in or chosen) stops and uninitialises the engine with nothing but this notification
    // to say so, posted on an internal queue where the engine must not be torn down. What to do
    // about it is decided on the main thread, where the engine is used.
    std::weak_ptr<TapGate> weakGate = gate_;
    observer_ = [NSNotificationCenter.defaultCenter
        addObserverForName:AVAudioEngineConfigurationChangeNotification
                    object:engine_
                     queue:nil
                usingBlock:^(NSNotification*) {
                  dispatch_async(dispatch_get_main_queue(), ^{
                    onConfigurationChange(weakGate);
                  });
                }];
  }

  ~AppleAudioEngine() override {
    gate_->owner = nullptr;
    [NSNotificationCenter.defaultCenter removeObserver:observer_];
    stop();
  }

  // Main thread.
  void recoverFromChange() {
    if (!node_.installedTap()) return;  // nothing was capturing
    // A copy: the recovery takes the tap out before it puts it in again.
    const CaptureRecovery::Tap tap = *node_.installedTap();
    bool capturing = false;
    {
      std::lock_guard lock(gate_->mutex);
      capturing = gate_->open;
    }
    if (gate_->recovery.onConfigurationChange(*this, tap, capturing) ==
        CaptureRecovery::Outcome::ended)
      endCapture();
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
    if (!failure) return {};
    setOpen(false);
    return Status::failure(*failure);
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
  void setOpen(bool open) {
    std::lock_guard lock(gate_->mutex);
    gate_->open = open;
  }

  // Capture is over: the input went away, or would not start again after a change. A restart
  // that failed has closed the gate already, so this does not ask whether it is open.
  void endCapture() {
    std::function<void()> handler;
    {
      std::lock_guard lock(gate_->mutex);
      gate_->open = false;
      handler = std::exchange(gate_->captureEnded, nullptr);
    }
    if (handler) handler();
  }

  AVAudioEngine* const engine_;
  const std::shared_ptr<TapGate> gate_;
  AppleInputNode node_;
  id<NSObject> observer_;
};

void onConfigurationChange(const std::weak_ptr<TapGate>& weakGate) {
  const std::shared_ptr<TapGate> gate = weakGate.lock();
  if (gate && gate->owner != nullptr) gate->owner->recoverFromChange();
}

class AppleAudioInputService final : public AudioInputService {
 public:
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
      return std::make_unique<AppleAudioEngine>();
    }
  }
};

}  // namespace

std::unique_ptr<AudioInputService> makeAppleAudioInputService() {
  return std::make_unique<AppleAudioInputService>();
}

AVAudioPCMBuffer* _Nullable nativeAudioBuffer(const AudioPCMBuffer& buffer) {
  const auto* native = dynamic_cast<const NativeAudioBuffer*>(&buffer);
  return native != nullptr ? native->native() : nil;
}

}  // namespace mic
