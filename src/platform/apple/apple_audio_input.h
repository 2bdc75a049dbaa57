#pragma once

#import <AVFoundation/AVFoundation.h>

#include <memory>

#include "platform/audio_input.h"
#include "platform/main_loop.h"

NS_ASSUME_NONNULL_BEGIN

namespace mic {

// Microphone permission through AVCaptureDevice, capture through AVAudioEngine's input node, in
// one channel. After a device change capture goes on through a fresh engine once the changes have
// settled, measured on `loop` and `clock`, which outlive the service and its engines.
std::unique_ptr<AudioInputService> makeAppleAudioInputService(MainLoop& loop,
                                                              MonotonicClock& clock);

// The AVAudioPCMBuffer behind a buffer this service's tap handed out, or nil for any other
// buffer. Lets the speech request append the native buffer without copying or converting it.
AVAudioPCMBuffer* _Nullable nativeAudioBuffer(const AudioPCMBuffer& buffer);

}  // namespace mic

NS_ASSUME_NONNULL_END
