// The audio thread's only recognizer call: append of one 1024-frame buffer on the real pocketsphinx
// request, while the decoder is busy with a backlog or still loading its model. It must cost a copy
// and a short lock, never a wait for the decoder.
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <memory>
#include <numbers>
#include <random>
#include <thread>
#include <vector>

#include "fakes/fake_platform.h"
#include "platform/linux/large_pages.h"
#include "recognizer/pocketsphinx/pocketsphinx_engine.h"

namespace {

// The program's allocator set-up, made before main as the program makes it before any thread: all
// threads then share one heap, so an append can wait on the model load's allocations.
const bool kAllocatorAsInTheProgram = (mic::useLargePagesForModel(), true);

constexpr uint32_t kFrames = 1024;
constexpr double kPi = std::numbers::pi;

// Speech-like enough to keep the search busy and producing words: a buzzing voice (harmonics of a
// wandering pitch, a formant that comes and goes four times a second) for a third of a second, then
// as long of faint noise, over and over. Plain noise gives the search no word at all, and then
// nothing shows that the model has loaded.
std::vector<mic::testing::FakeBuffer> voicedBursts(const mic::AudioFormat& format) {
  std::mt19937 random(42);
  std::normal_distribution<float> noise(0.0f, 0.01f);
  std::vector<mic::testing::FakeBuffer> buffers;
  const int perBurst = std::max(1, static_cast<int>(format.sampleRate / 3 / kFrames));
  double phase = 0;
  uint64_t n = 0;
  for (int b = 0; b < 2 * perBurst; ++b) {
    std::vector<float> samples(kFrames * format.channelCount);
    for (uint32_t f = 0; f < kFrames; ++f, ++n) {
      const double t = n / format.sampleRate;
      const double pitch = 120 + 30 * std::sin(2 * kPi * 1.3 * t);
      phase += 2 * kPi * pitch / format.sampleRate;
      const double formant = 1 + std::sin(2 * kPi * 4 * t);
      double voice = 0;
      for (int h = 1; h <= 20; ++h) {
        const double hz = h * pitch;
        const double shape = 1.0 / h * (1 + formant * std::exp(-std::pow((hz - 700) / 300, 2)) * 4);
        voice += shape * std::sin(h * phase);
      }
      const float gain = b < perBurst ? 0.05f : 0.0f;
      const double syllables = std::abs(std::sin(2 * kPi * 2 * t));  // four a second
      for (uint32_t c = 0; c < format.channelCount; ++c) {
        samples[f * format.channelCount + c] =
            static_cast<float>(voice * gain * syllables) + noise(random);
      }
    }
    buffers.emplace_back(format, std::move(samples));
  }
  return buffers;
}

struct Recognition {
  std::unique_ptr<mic::SpeechRecognitionService> service;
  std::shared_ptr<mic::SpeechRecognitionRequest> request;
  std::shared_ptr<mic::RecognitionTask> task;
  std::shared_ptr<std::atomic<int>> reports = std::make_shared<std::atomic<int>>(0);

  bool start() {
    service = mic::makePocketSphinxService(MIC_POCKETSPHINX_MODEL_DIR);
    auto recognizer = service->makeRecognizer(mic::Locale{"en-US"});
    if (!recognizer) return false;
    request = service->makeRequest();
    request->setShouldReportPartialResults(true);
    task = recognizer->recognitionTask(request,
                                       [reports = reports](auto, auto) { reports->fetch_add(1); });
    return true;
  }
  ~Recognition() {
    if (task) task->cancel();
  }
};

long voluntarySwitchesOfThisThread() {
  rusage usage{};
  getrusage(RUSAGE_THREAD, &usage);
  return usage.ru_nvcsw;
}

// Times each append on its own and reports the slowest, and counts the times this thread gave up
// the processor inside the loop: a wait on the decoder's lock would show as a voluntary switch,
// where preemption by the busy decoder on a shared machine shows only in max_us.
void appendAndTime(benchmark::State& state, Recognition& recognition,
                   const std::vector<mic::testing::FakeBuffer>& buffers) {
  double slowest = 0;
  size_t next = 0;
  int blocked = 0;
  double slowestBlocked = 0;
  for (auto _ : state) {
    const mic::testing::FakeBuffer& buffer = buffers[next++ % buffers.size()];
    const long switchesBefore = voluntarySwitchesOfThisThread();
    const auto begin = std::chrono::steady_clock::now();
    recognition.request->append(buffer);
    const std::chrono::duration<double, std::micro> took = std::chrono::steady_clock::now() - begin;
    if (voluntarySwitchesOfThisThread() != switchesBefore) {
      ++blocked;
      slowestBlocked = std::max(slowestBlocked, took.count());
    }
    slowest = std::max(slowest, took.count());
  }
  state.counters["max_us"] = slowest;
  state.counters["blocked"] = blocked;
  state.counters["max_blocked_us"] = slowestBlocked;
  state.counters["reports"] = recognition.reports->load();
  state.SetItemsProcessed(state.iterations());
}

mic::AudioFormat formatOf(const benchmark::State& state) {
  return {static_cast<double>(state.range(0)), static_cast<uint32_t>(state.range(1))};
}

// The decoder works through a backlog (several seconds of audio queued after the model loaded)
// while the audio thread keeps appending.
void BM_AppendWhileDecoding(benchmark::State& state) {
  const mic::AudioFormat format = formatOf(state);
  const auto buffers = voicedBursts(format);
  Recognition recognition;
  if (!recognition.start()) return state.SkipWithError("no en-US model installed");
  const int backlog = static_cast<int>(8 * format.sampleRate / kFrames);  // 8 s of audio
  for (int i = 0; i < backlog; ++i) recognition.request->append(buffers[i % buffers.size()]);
  // Until the worker reports, the model is loading rather than decoding.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (recognition.reports->load() == 0 && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  if (recognition.reports->load() == 0) return state.SkipWithError("the decoder never reported");
  appendAndTime(state, recognition, buffers);
}
// A bounded count: nothing is dropped, so every append stays queued until the decoder gets to it.
BENCHMARK(BM_AppendWhileDecoding)->Args({16000, 1})->Args({48000, 2})->Iterations(5000);

// Capture starts while the model is still loading: appends must not wait for the load either.
void BM_AppendWhileModelLoads(benchmark::State& state) {
  const mic::AudioFormat format = formatOf(state);
  const auto buffers = voicedBursts(format);
  Recognition recognition;
  if (!recognition.start()) return state.SkipWithError("no en-US model installed");
  appendAndTime(state, recognition, buffers);
}
BENCHMARK(BM_AppendWhileModelLoads)->Args({48000, 2})->Iterations(200);

}  // namespace
