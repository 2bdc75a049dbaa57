#pragma once

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "app/event_line.h"
#include "fakes/fake_main_loop.h"
#include "platform/platform.h"
#include "session/speech_session.h"

namespace mic::testing {

class FakeBuffer : public AudioPCMBuffer {
 public:
  FakeBuffer(AudioFormat format, std::vector<float> samples)
      : format_(format), samples_(std::move(samples)) {}
  AudioFormat format() const override { return format_; }
  uint32_t frameLength() const override {
    return format_.channelCount ? static_cast<uint32_t>(samples_.size() / format_.channelCount) : 0;
  }
  std::span<const float> interleavedSamples() const override { return samples_; }

 private:
  AudioFormat format_;
  std::vector<float> samples_;
};

class FakeInputNode : public AudioInputNode {
 public:
  AudioFormat format{48000, 1};
  std::optional<uint32_t> tapBus;
  uint32_t tapBufferSize = 0;
  AudioFormat tapFormat;
  int removeTapCount = 0;

  AudioFormat outputFormatForBus(uint32_t) override { return format; }
  void installTap(uint32_t bus, uint32_t bufferSize, AudioFormat f, AudioTapBlock block) override;
  void removeTap(uint32_t bus) override;
  bool hasTap();
  // Calls the tap as the audio thread would; false when no tap is installed.
  bool deliver(const AudioPCMBuffer& buffer);

 private:
  std::mutex mutex_;
  AudioTapBlock block_;
};

class FakeEngine : public AudioEngine {
 public:
  FakeInputNode node;
  std::optional<std::string> startError;
  int prepareCount = 0;
  int startCount = 0;
  int stopCount = 0;
  bool running = false;

  AudioInputNode& inputNode() override { return node; }
  void prepare() override { ++prepareCount; }
  Status start() override;
  bool isRunning() const override { return running; }
  void stop() override {
    ++stopCount;
    running = false;
  }
  void setCaptureEndedHandler(std::function<void()> handler) override {
    captureEnded = std::move(handler);
  }
  // The audio hardware changed under a running engine: as AVAudioEngine does, it stops itself
  // (unless `keepsRunning`) and its input now delivers `format`.
  void changeConfiguration(AudioFormat format, bool keepsRunning = false) {
    node.format = format;
    running = running && keepsRunning;
  }
  // Capture ends as a vanished microphone ends it: the engine stops by itself and says so.
  void endCapture() {
    running = false;
    if (auto handler = std::exchange(captureEnded, nullptr)) handler();
  }

  std::function<void()> captureEnded;
};

class FakeAudioService : public AudioInputService {
 public:
  FakeEngine* engine = nullptr;  // the last engine made, owned by the session
  int accessRequests = 0;
  std::function<void(bool)> accessHandler;

  void requestMicrophoneAccess(std::function<void(bool)> handler) override {
    ++accessRequests;
    accessHandler = std::move(handler);
  }
  std::unique_ptr<AudioEngine> makeEngine() override {
    auto e = std::make_unique<FakeEngine>();
    engine = e.get();
    return e;
  }
};

class FakeRequest : public SpeechRecognitionRequest {
 public:
  bool requiresOnDevice = false;
  bool reportsPartials = false;
  std::atomic<int> appendedBuffers{0};
  std::atomic<int> appendedFrames{0};
  int endAudioCount = 0;

  void setRequiresOnDeviceRecognition(bool required) override { requiresOnDevice = required; }
  void setShouldReportPartialResults(bool report) override { reportsPartials = report; }
  void append(const AudioPCMBuffer& buffer) override {
    ++appendedBuffers;
    appendedFrames += static_cast<int>(buffer.frameLength());
  }
  void endAudio() override { ++endAudioCount; }
};

class FakeTask : public RecognitionTask {
 public:
  RecognitionResultHandler handler;
  std::shared_ptr<SpeechRecognitionRequest> request;
  int cancelCount = 0;
  double backlog = 0;  // a recognizer that keeps up, unless a test says otherwise
  void cancel() override { ++cancelCount; }
  double backlogDuration() const override { return backlog; }
};

class FakeRecognizer : public SpeechRecognizer {
 public:
  bool onDevice = true;
  std::shared_ptr<FakeTask> task;

  bool supportsOnDeviceRecognition() const override { return onDevice; }
  std::shared_ptr<RecognitionTask> recognitionTask(
      std::shared_ptr<SpeechRecognitionRequest> request,
      RecognitionResultHandler handler) override {
    task = std::make_shared<FakeTask>();
    task->handler = std::move(handler);
    task->request = std::move(request);
    return task;
  }
};

class FakeSpeechService : public SpeechRecognitionService {
 public:
  // Locales with a recognizer; any other gets none.
  std::map<std::string, std::shared_ptr<FakeRecognizer>> recognizers;
  std::vector<std::string> requestedLocales;
  std::shared_ptr<FakeRequest> request;
  int authorizationRequests = 0;
  std::function<void(SpeechAuthorizationStatus)> authorizationHandler;

  void requestAuthorization(std::function<void(SpeechAuthorizationStatus)> handler) override {
    ++authorizationRequests;
    authorizationHandler = std::move(handler);
  }
  std::shared_ptr<SpeechRecognizer> makeRecognizer(const Locale& locale) override {
    requestedLocales.push_back(locale.identifier);
    auto it = recognizers.find(locale.identifier);
    return it == recognizers.end() ? nullptr : it->second;
  }
  std::shared_ptr<SpeechRecognitionRequest> makeRequest() override {
    request = std::make_shared<FakeRequest>();
    return request;
  }
};

class FakeLocales : public Locales {
 public:
  std::string currentIdentifier = "en_US";
  Locale current() override { return {currentIdentifier}; }
  Locale fromIdentifier(const std::string& identifier) override { return {identifier}; }
};

class FakeProcess : public Process {
 public:
  std::atomic<int> linesRead{0};
  std::vector<int> exits;
  void readLine() override { ++linesRead; }
  // Kept for the test to call, as a signal would.
  std::function<void()> stopRequestHandler;
  int stopWatches = 0;
  void watchStopRequests(std::function<void()> handler) override {
    ++stopWatches;
    stopRequestHandler = std::move(handler);
  }
  void exit(int status) override { exits.push_back(status); }
};

// Every fake, wired together, with the lines the session wrote.
struct FakePlatform {
  FakeSpeechService speech;
  FakeAudioService audio;
  FakeMainLoop loop;
  FakeLocales locales;
  FakeProcess process;
  std::vector<EventLine> lines;
  std::vector<std::string> bytes;                // each line exactly as it would be written
  std::function<void(const EventLine&)> onLine;  // runs as each line is written

  Platform platform() { return {speech, audio, loop, loop, locales, process}; }
  EmitFunction recorder();
};

}  // namespace mic::testing
