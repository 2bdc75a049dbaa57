#pragma once

// Test speech for the recognizer: flite's slt voice (one this model understands), read back as
// float samples and cut into capture-sized buffers.

#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "fakes/fake_platform.h"

namespace mic::testing {

inline std::string speechModelRoot() { return MIC_POCKETSPHINX_MODEL_DIR; }

inline bool hasSpeechModel() {
  return std::filesystem::exists(speechModelRoot() + "/en-us/en-us.lm.bin");
}

inline bool hasFlite() { return std::system("command -v flite >/dev/null 2>&1") == 0; }

// 16 kHz mono samples of `text` spoken by flite, or nothing when flite fails.
inline std::optional<std::vector<float>> fliteSpeech(const std::string& text) {
  char dir[] = "/tmp/mic-speech-XXXXXX";
  if (!mkdtemp(dir)) return std::nullopt;
  const std::string wav = std::string(dir) + "/speech.wav";
  const std::string textFile = std::string(dir) + "/speech.txt";
  std::ofstream(textFile) << text;
  const std::string command =
      "flite -voice slt -f '" + textFile + "' -o '" + wav + "' >/dev/null 2>&1";
  const bool spoke = std::system(command.c_str()) == 0;
  std::ifstream in(wav, std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(in)), {});
  std::filesystem::remove_all(dir);
  const auto data = bytes.find("data");
  if (!spoke || data == std::string::npos || data + 8 > bytes.size()) return std::nullopt;
  uint32_t size = 0;
  std::memcpy(&size, bytes.data() + data + 4, 4);
  size = static_cast<uint32_t>(std::min<size_t>(size, bytes.size() - data - 8));
  std::vector<float> samples(size / 2);
  for (size_t i = 0; i < samples.size(); ++i) {
    int16_t sample = 0;
    std::memcpy(&sample, bytes.data() + data + 8 + 2 * i, 2);
    samples[i] = static_cast<float>(sample) / 32768.0f;
  }
  return samples;
}

// The same sound at 48 kHz in two identical channels (linear interpolation: the recognizer's
// resampler filters away what that adds above 8 kHz).
inline std::vector<float> as48kStereo(const std::vector<float>& mono16k) {
  std::vector<float> out;
  out.reserve(mono16k.size() * 6);
  for (size_t i = 0; i < mono16k.size(); ++i) {
    const float next = i + 1 < mono16k.size() ? mono16k[i + 1] : mono16k[i];
    for (int k = 0; k < 3; ++k) {
      const float value = mono16k[i] + (next - mono16k[i]) * static_cast<float>(k) / 3.0f;
      out.push_back(value);
      out.push_back(value);
    }
  }
  return out;
}

// Capture-sized buffers, as the audio thread would hand them out.
inline std::vector<std::unique_ptr<FakeBuffer>> asBuffers(const std::vector<float>& samples,
                                                          AudioFormat format,
                                                          uint32_t framesPerBuffer = 1024) {
  std::vector<std::unique_ptr<FakeBuffer>> buffers;
  const size_t step = static_cast<size_t>(framesPerBuffer) * format.channelCount;
  for (size_t i = 0; i < samples.size(); i += step) {
    const auto end =
        samples.begin() + static_cast<std::ptrdiff_t>(std::min(samples.size(), i + step));
    buffers.push_back(std::make_unique<FakeBuffer>(
        format, std::vector<float>(samples.begin() + static_cast<std::ptrdiff_t>(i), end)));
  }
  return buffers;
}

}  // namespace mic::testing
