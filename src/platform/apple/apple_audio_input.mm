#include "platform/apple/apple_audio_input.h"

#import <AVFoundation/AVFoundation.h>
#import <Foundation/Foundation.h>

#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <utility>

#include "platform/apple/apple_strings.h"

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

// Shared by the engine, its node and the tap blocks AVFoundation keeps. Every tap call runs under
// the mutex, so once removeTap or stop has taken it and closed the way, no call is running and
// none will start: AVFoundation itself does not promise that.
struct TapGate {
  std::mutex mutex;
  std::map<uint32_t, AudioTapBlock> blocks;  // one per bus
  bool open = false;                         // while the engine runs
  std::function<void()> captureEnded;        // taken by the first end of capture
};

void deliverToTap(const std::weak_ptr<TapGate>& weakGate, uint32_t bus, AVAudioPCMBuffer* buffer,
                  AVAudioTime* when) {
  const std::shared_ptr<TapGate> gate = weakGate.lock();
  if (!gate) return;
  @autoreleasepool {
    const NativeAudioBuffer wrapped(buffer);
    const AudioTime time{when.sampleTimeValid ? static_cast<uint64_t>(when.sampleTime) : 0};
    std::lock_guard lock(gate->mutex);
    if (!gate->open) return;
    const auto found = gate->blocks.find(bus);
    if (found != gate->blocks.end() && found->second) found->second(wrapped, time);
  }
}

// The engine stopped itself: its input device went away or changed under it.
void endCapture(const std::weak_ptr<TapGate>& weakGate) {
  const std::shared_ptr<TapGate> gate = weakGate.lock();
  if (!gate) return;
  std::function<void()> handler;
  {
    std::lock_guard lock(gate->mutex);
    if (!gate->open) return;  // not capturing: nothing ends
    gate->open = false;
    handler = std::exchange(gate->captureEnded, nullptr);
  }
  if (handler) handler();
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
    @autoreleasepool {
      @try {
        [engine_.inputNode removeTapOnBus:bus];
      } @catch (NSException*) {
        // Nothing was installed there; the gate below still guarantees silence.
      }
    }
    forgetTap(bus);
  }

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
  std::optional<std::string> setupFailure_;  // main thread only
};

class AppleAudioEngine final : public AudioEngine {
 public:
  AppleAudioEngine()
      : engine_([[AVAudioEngine alloc] init]),
        gate_(std::make_shared<TapGate>()),
        node_(engine_, gate_) {
    // A change of input device stops the engine with nothing but this notification to say so,
    // posted on a thread of the system's choosing.
    std::weak_ptr<TapGate> weakGate = gate_;
    observer_ = [NSNotificationCenter.defaultCenter
        addObserverForName:AVAudioEngineConfigurationChangeNotification
                    object:engine_
                     queue:nil
                usingBlock:^(NSNotification*) {
                  endCapture(weakGate);
                }];
  }

  ~AppleAudioEngine() override {
    [NSNotificationCenter.defaultCenter removeObserver:observer_];
    stop();
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

  AVAudioEngine* const engine_;
  const std::shared_ptr<TapGate> gate_;
  AppleInputNode node_;
  id<NSObject> observer_;
};

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
