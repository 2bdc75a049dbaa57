#include "platform/apple/channel_mix.h"

#include <gtest/gtest.h>

#include <vector>

namespace mic {
namespace {

TEST(ChannelMixTest, AveragesTheChannelsThatCarrySound) {
  struct Case {
    const char* name;
    std::vector<std::vector<float>> channels;  // one row a channel
    std::vector<float> mono;
  };
  const float z = 0.0f;
  const float hum = 1e-9f;  // below any converter's step: digital silence
  const std::vector<Case> cases = {
      {"one channel is itself", {{0.5f, -0.25f, z}}, {0.5f, -0.25f, z}},
      {"a microphone on input 2 keeps its level",
       {{z, z, z}, {0.4f, -0.2f, 0.1f}},
       {0.4f, -0.2f, 0.1f}},
      {"the same sound on both inputs stays as it is",
       {{0.4f, -0.2f, z}, {0.4f, -0.2f, z}},
       {0.4f, -0.2f, z}},
      {"two sounds are averaged", {{0.4f, z, -0.4f}, {0.2f, 0.2f, 0.2f}}, {0.3f, 0.1f, -0.1f}},
      {"a hiss of a real input counts",
       {{1e-4f, -1e-4f, 1e-4f}, {0.4f, 0.4f, 0.4f}},
       {0.20005f, 0.19995f, 0.20005f}},
      {"sub-step residue is silence", {{hum, hum, hum}, {0.4f, 0.4f, 0.4f}}, {0.4f, 0.4f, 0.4f}},
      {"nothing but silence is silence", {{z, hum, z}, {z, z, -hum}}, {z, z, z}},
      {"a microphone on input 11 of an aggregate of 16",
       [] {
         std::vector<std::vector<float>> channels(16, std::vector<float>(3, 0.0f));
         channels[10] = {0.3f, -0.3f, 0.6f};
         return channels;
       }(),
       {0.3f, -0.3f, 0.6f}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const size_t frames = c.mono.size();
    // Separate channel arrays, as the input node delivers them.
    std::vector<const float*> separate;
    for (const auto& channel : c.channels) separate.push_back(channel.data());
    std::vector<float> mono(frames, 9.0f);
    mixToMono(separate, 1, mono);
    for (size_t i = 0; i < frames; ++i) EXPECT_FLOAT_EQ(mono[i], c.mono[i]) << "frame " << i;
    // The same audio interleaved.
    std::vector<float> interleaved;
    for (size_t i = 0; i < frames; ++i)
      for (const auto& channel : c.channels) interleaved.push_back(channel[i]);
    std::vector<const float*> starts;
    for (size_t ch = 0; ch < c.channels.size(); ++ch) starts.push_back(interleaved.data() + ch);
    std::vector<float> fromInterleaved(frames, 9.0f);
    mixToMono(starts, c.channels.size(), fromInterleaved);
    EXPECT_EQ(fromInterleaved, mono);
  }
}

}  // namespace
}  // namespace mic
