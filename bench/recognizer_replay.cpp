// Feeds a 16-bit PCM WAV file through the real pocketsphinx request as capture would (1024-frame
// buffers, then the silence that ends a run, then endAudio) and prints the final transcript.
// Unpaced, so it runs under callgrind and counts exactly what recognition costs:
//   valgrind --tool=callgrind build-bench/bench/mic_replay speech.wav
// --paced appends in real time, as capture does, to compare what the same work costs live, and
// also prints how far the recognizer fell behind the microphone at worst: a segment end holds the
// worker while audio queues up, so this bounds the longest segment end from above.
// --segment-ends (16 kHz mono files) drives the engine's decoder itself and prints the longest
// single feed, which is where a segment ends (an ordinary feed costs milliseconds), and the end
// of the last segment.
// --set -name value (repeatable, before the mode) overrides one of the decoder's settings, or adds
// one, for sweeping its search: the replay wraps the library's argument parser at link time
// (bench/CMakeLists.txt), so the program itself has no such option.
#include <pocketsphinx.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "fakes/fake_platform.h"
#include "platform/linux/large_pages.h"
#include "recognizer/pocketsphinx/model_locator.h"
#include "recognizer/pocketsphinx/pocketsphinx_decoder.h"
#include "recognizer/pocketsphinx/pocketsphinx_engine.h"
#include "recognizer/pocketsphinx/pocketsphinx_handle.h"

// The decoder's settings to replace or add, name then value, from --set.
std::vector<std::string> settingOverrides;

extern "C" {
cmd_ln_t* __real_cmd_ln_parse_r(cmd_ln_t* in, const arg_t* definitions, int32 argc, char** argv,
                                int32 strict);

// Every settings parse goes through here (the linker's --wrap): values named by --set replace the
// decoder's own, and the others are appended.
cmd_ln_t* __wrap_cmd_ln_parse_r(cmd_ln_t* in, const arg_t* definitions, int32 argc, char** argv,
                                int32 strict) {
  std::vector<std::string> args(argv, argv + argc);
  for (size_t o = 0; o + 1 < settingOverrides.size(); o += 2) {
    bool replaced = false;
    for (size_t i = 0; i + 1 < args.size(); i += 2) {
      if (args[i] == settingOverrides[o]) {
        args[i + 1] = settingOverrides[o + 1];
        replaced = true;
      }
    }
    if (!replaced) {
      args.push_back(settingOverrides[o]);
      args.push_back(settingOverrides[o + 1]);
    }
  }
  std::vector<char*> pointers;
  for (auto& arg : args) pointers.push_back(arg.data());
  return __real_cmd_ln_parse_r(in, definitions, static_cast<int32>(pointers.size()),
                               pointers.data(), strict);
}
}

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

// Seconds `work` took.
template <typename Work>
double timed(Work work) {
  const auto start = std::chrono::steady_clock::now();
  work();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

int segmentEnds(const Wav& wav) {
  if (wav.format.sampleRate != 16000 || wav.format.channelCount != 1) {
    std::fprintf(stderr, "--segment-ends takes 16 kHz mono only\n");
    return 1;
  }
  auto paths = mic::locateModel(MIC_POCKETSPHINX_MODEL_DIR, "en-US");
  if (!paths) return std::fprintf(stderr, "%s\n", paths.status().message().c_str()), 1;
  auto loaded = mic::PocketSphinxHandle::load(*paths);
  if (!loaded) return std::fprintf(stderr, "%s\n", loaded.status().message().c_str()), 1;
  mic::PocketSphinxDecoder decoder(std::move(loaded).value(), mic::WarmUpPolicy{});
  if (!decoder.start().ok()) return 1;
  std::vector<int16_t> samples;
  for (float sample : wav.samples) samples.push_back(static_cast<int16_t>(sample * 32767.0f));
  double longest = 0;
  for (size_t at = 0; at < samples.size(); at += 1024) {
    const std::span<const int16_t> chunk(samples.data() + at,
                                         std::min<size_t>(1024, samples.size() - at));
    const double took = timed([&] { (void)decoder.feed(chunk); });
    if (took > 0.1) std::fprintf(stderr, "%.1f s: %.2f s\n", at / 16000.0, took);
    longest = std::max(longest, took);
  }
  const double last = timed([&] { (void)decoder.finish(); });
  std::printf("%s\nlongest segment end: %.2f s\nlast segment end: %.2f s\n",
              decoder.hypothesis().c_str(), longest, last);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  while (argc >= 4 && std::strcmp(argv[1], "--set") == 0) {
    settingOverrides.insert(settingOverrides.end(), {argv[2], argv[3]});
    argv[3] = argv[0];
    argv += 3;
    argc -= 3;
  }
  const bool paced = argc == 3 && std::strcmp(argv[1], "--paced") == 0;
  const bool segments = argc == 3 && std::strcmp(argv[1], "--segment-ends") == 0;
  if (argc != 2 && !paced && !segments) {
    std::fprintf(stderr, "usage: %s [--set -name value]... [--paced | --segment-ends] speech.wav\n",
                 argv[0]);
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
  if (segments) return segmentEnds(*wav);

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
  double longestBehind = 0;
  for (size_t at = 0; at < wav->samples.size(); at += step) {
    const auto end = std::min(wav->samples.size(), at + step);
    request->append(mic::testing::FakeBuffer(
        wav->format, std::vector<float>(wav->samples.begin() + at, wav->samples.begin() + end)));
    if (paced) {
      std::this_thread::sleep_until(start + std::chrono::duration<double>(end / perSecond));
      longestBehind = std::max(longestBehind, task->backlogDuration());
    }
  }
  request->endAudio();
  std::unique_lock lock(mutex);
  done.wait(lock, [&] { return final.has_value(); });
  std::printf("%s\npartials: %d\n", final->c_str(), partials);
  if (paced) std::printf("longest behind: %.2f s\n", longestBehind);
  std::fflush(stdout);
  std::_Exit(0);  // the recognizer's threads are detached, as in the program
}
