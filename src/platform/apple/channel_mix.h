#pragma once

#include <cstddef>
#include <span>

namespace mic {

// Mixes the channels of one buffer into `mono`, one sample a frame: channel c's sample of frame i
// is channels[c][i * stride] (stride 1 for separate channel arrays, the channel count for
// interleaved ones), for mono.size() frames.
//
// The recognizer is reported to return nothing at all for buffers of more than one channel, and
// the framework's converter does not sum every channel (it copies one, or gives silence for
// interfaces whose channels have no standard layout), so the mix is done here: the average of the
// channels that carry sound in this buffer (carriesSound). A microphone on any input counts, and
// an input of pure digital silence (an unused input of an aggregate device, an idle virtual device)
// does not halve it. No channel with sound gives silence.
void mixToMono(std::span<const float* const> channels, size_t stride, std::span<float> mono);

}  // namespace mic
