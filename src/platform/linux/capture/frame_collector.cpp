#include "platform/linux/capture/frame_collector.h"

#include <algorithm>
#include <cstring>

namespace mic {

FrameCollector::FrameCollector(AudioFormat format, uint32_t framesPerBuffer, Output output)
    : output_(std::move(output)) {
  buffer_.format_ = format;
  buffer_.frames_ = std::max<uint32_t>(framesPerBuffer, 1);
  buffer_.samples_.assign(size_t{buffer_.frames_} * std::max<uint32_t>(format.channelCount, 1),
                          0.0f);
}

void FrameCollector::append(std::span<const std::byte> bytes) {
  while (!bytes.empty()) {
    const size_t n = std::min(bytes.size(), capacityBytes() - filledBytes_);
    std::memcpy(this->bytes() + filledBytes_, bytes.data(), n);
    filledBytes_ += n;
    bytes = bytes.subspan(n);
    deliverIfFull();
  }
}

void FrameCollector::appendSilence(size_t byteCount) {
  while (byteCount > 0) {
    const size_t n = std::min(byteCount, capacityBytes() - filledBytes_);
    std::memset(bytes() + filledBytes_, 0, n);
    filledBytes_ += n;
    byteCount -= n;
    deliverIfFull();
  }
}

void FrameCollector::deliverIfFull() {
  if (filledBytes_ < capacityBytes()) return;
  output_(buffer_, AudioTime{framesDelivered_});
  framesDelivered_ += buffer_.frames_;
  filledBytes_ = 0;
}

}  // namespace mic
