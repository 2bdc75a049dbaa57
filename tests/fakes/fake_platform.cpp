#include "fakes/fake_platform.h"

namespace mic::testing {

void FakeInputNode::installTap(uint32_t bus, uint32_t bufferSize, AudioFormat f,
                               AudioTapBlock block) {
  std::lock_guard lock(mutex_);
  tapBus = bus;
  tapBufferSize = bufferSize;
  tapFormat = f;
  block_ = std::move(block);
}

void FakeInputNode::removeTap(uint32_t) {
  std::lock_guard lock(mutex_);
  ++removeTapCount;
  tapBus.reset();
  block_ = nullptr;
}

bool FakeInputNode::hasTap() {
  std::lock_guard lock(mutex_);
  return block_ != nullptr;
}

bool FakeInputNode::deliver(const AudioPCMBuffer& buffer) {
  // Like a real engine, removeTap waits for a running call to return.
  std::lock_guard lock(mutex_);
  if (!block_) return false;
  block_(buffer, AudioTime{});
  return true;
}

Status FakeEngine::start() {
  ++startCount;
  if (startError) return Status::failure(*startError);
  running = true;
  return {};
}

EmitFunction FakePlatform::recorder() {
  return [this](std::string_view kind, std::string_view text) {
    EventLine line{std::string(kind), std::string(text)};
    bytes.push_back(formatEventLine(line));
    if (onLine) onLine(line);
    lines.push_back(std::move(line));
  };
}

}  // namespace mic::testing
