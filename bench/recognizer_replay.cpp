// Feeds a 16-bit PCM WAV file through the real pocketsphinx request as capture would (1024-frame
// buffers, then the silence that ends a run, then endAudio) and prints the final transcript.
// Unpaced, so it runs under callgrind and counts exactly what recognition costs:
//   valgrind --tool=callgrind build-bench/bench/mic_replay speech.wav
// --paced appends in real time, as capture does, to compare what the same work costs live.
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "fakes/fake_platform.h"
#include "platform/linux/large_pages.h"
#include "platform/linux/pocketsphinx/pocketsphinx_engine.h"

namespace {

struct Wav {
  mic::AudioFormat format;
  std::vector<float> samples;
};

uint32_t little(const char* p, int bytes) {
  uint32_t value = 0;
  for (int i = bytes - 1; i >= 0; --i) value = (value << 8) | static_cast<uint8_t>(p[i]);
  return value;
}

std::optional<Wav> readWav(const char* path) {
  std::ifstream in(path, std::ios::binary);
  const std::string data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (data.size() < 12 || data.compare(0, 4, "RIFF") != 0 || data.compare(8, 4, "WAVE") != 0) {
    return std::nullopt;
  }
  Wav wav;
  for (size_t at = 12; at + 8 <= data.size();) {
    const std::string id = data.substr(at, 4);
    const uint32_t size = little(&data[at + 4], 4);
    const char* body = &data[at + 8];
    if (id == "fmt " && size >= 16) {
      if (little(body, 2) != 1 || little(body + 14, 2) != 16) return std::nullopt;  // 16-bit PCM
      wav.format = {static_cast<double>(little(body + 4, 4)), little(body + 2, 2)};
    } else if (id == "data") {
      const size_t count = std::min<size_t>(size, data.size() - at - 8) / 2;
      for (size_t i = 0; i < count; ++i) {
        wav.samples.push_back(static_cast<int16_t>(little(body + 2 * i, 2)) / 32768.0f);
      }
    }
    at += 8 + size + (size & 1);
  }
  if (wav.format.channelCount == 0 || wav.samples.empty()) return std::nullopt;
  return wav;
}

}  // namespace

int main(int argc, char** argv) {
  const bool paced = argc == 3 && std::strcmp(argv[1], "--paced") == 0;
  if (argc != 2 && !paced) {
    std::fprintf(stderr, "usage: %s [--paced] speech.wav\n", argv[0]);
    return 64;
  }
  mic::useLargePagesForModel();  // as the program does, before any thread
  const char* path = argv[argc - 1];
  auto wav = readWav(path);
  if (!wav) {
    std::fprintf(stderr, "%s: not a 16-bit PCM WAV file\n", path);
    return 1;
  }
  // The silence a run hears after the last words before the pause stops it.
  wav->samples.resize(wav->samples.size() + static_cast<size_t>(1.6 * wav->format.sampleRate) *
                                                wav->format.channelCount,
                      0.0f);

  auto service = mic::makePocketSphinxService(MIC_POCKETSPHINX_MODEL_DIR);
  auto recognizer = service->makeRecognizer(mic::Locale{"en-US"});
  if (!recognizer) {
    std::fprintf(stderr, "no en-US model\n");
    return 1;
  }
  auto request = service->makeRequest();
  request->setShouldReportPartialResults(true);
  std::mutex mutex;
  std::condition_variable done;
  std::optional<std::string> final;
  int partials = 0;
  auto task = recognizer->recognitionTask(request, [&](auto result, auto error) {
    std::lock_guard lock(mutex);
    if (error) final = "error: " + error->localizedDescription;
    if (result && result->isFinal) final = result->formattedString;
    if (result && !result->isFinal) ++partials;
    done.notify_all();
  });
  const size_t step = 1024 * wav->format.channelCount;
  const double perSecond = wav->format.sampleRate * wav->format.channelCount;
  const auto start = std::chrono::steady_clock::now();
  for (size_t at = 0; at < wav->samples.size(); at += step) {
    const auto end = std::min(wav->samples.size(), at + step);
    request->append(mic::testing::FakeBuffer(
        wav->format, std::vector<float>(wav->samples.begin() + at, wav->samples.begin() + end)));
    if (paced)
      std::this_thread::sleep_until(start + std::chrono::duration<double>(end / perSecond));
  }
  request->endAudio();
  std::unique_lock lock(mutex);
  done.wait(lock, [&] { return final.has_value(); });
  std::printf("%s\npartials: %d\n", final->c_str(), partials);
  std::fflush(stdout);
  std::_Exit(0);  // the recognizer's threads are detached, as in the program
}
