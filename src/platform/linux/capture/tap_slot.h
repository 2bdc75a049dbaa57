#pragma once

#include <utility>

#include "platform/audio_input.h"
#include "platform/mutex.h"

namespace mic {

// The one tap of an input node. The capture thread delivers through it; the main thread installs
// and removes the block. Removal waits for a call in progress, so once removeTap returns the block
// is neither running nor called again. The block must never wait on the main thread.
class TapSlot {
 public:
  void install(AudioTapBlock block) {
    MutexLock lock(mutex_);
    block_ = std::move(block);
  }

  void remove() {
    AudioTapBlock old;
    {
      MutexLock lock(mutex_);
      old = std::move(block_);
      block_ = nullptr;
    }
    // Destroyed outside the lock: whatever the block holds may do work when released.
  }

  bool installed() {
    MutexLock lock(mutex_);
    return static_cast<bool>(block_);
  }

  void deliver(const AudioPCMBuffer& buffer, const AudioTime& when) {
    MutexLock lock(mutex_);
    if (block_) block_(buffer, when);
  }

 private:
  Mutex mutex_;
  AudioTapBlock block_ GUARDED_BY(mutex_);
};

}  // namespace mic
