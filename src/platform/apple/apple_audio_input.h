#pragma once

#import <AVFoundation/AVFoundation.h>

#include <memory>

#include "platform/audio_input.h"

NS_ASSUME_NONNULL_BEGIN

namespace mic {

// Microphone permission through AVCaptureDevice, capture through AVAudioEngine's input node.
std::unique_ptr<AudioInputService> makeAppleAudioInputService();

// The AVAudioPCMBuffer behind a buffer this service's tap handed out, or nil for any other
// buffer. Lets the speech request append the native buffer without copying or converting it.
AVAudioPCMBuffer* _Nullable nativeAudioBuffer(const AudioPCMBuffer& buffer);

}  // namespace mic

NS_ASSUME_NONNULL_END
