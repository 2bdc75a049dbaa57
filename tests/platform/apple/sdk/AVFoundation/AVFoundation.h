// The AVFoundation subset the program uses: the audio engine with its input node, formats,
// PCM buffers and times (AVFAudio), and capture-device permission. Declared from Apple's AVFAudio
// and AVFoundation documentation.
#pragma once

#include <Foundation/Foundation.h>
#include <stdint.h>

NS_ASSUME_NONNULL_BEGIN

typedef NSUInteger AVAudioNodeBus;
typedef uint32_t AVAudioFrameCount;
typedef int64_t AVAudioFramePosition;
typedef uint32_t AVAudioChannelCount;

typedef NS_ENUM(NSUInteger, AVAudioCommonFormat) {
  AVAudioOtherFormat = 0,
  AVAudioPCMFormatFloat32 = 1,
  AVAudioPCMFormatFloat64 = 2,
  AVAudioPCMFormatInt16 = 3,
  AVAudioPCMFormatInt32 = 4,
};

@interface AVAudioFormat : NSObject
- (nullable instancetype)initStandardFormatWithSampleRate:(double)sampleRate
                                                 channels:(AVAudioChannelCount)channels;
- (nullable instancetype)initWithCommonFormat:(AVAudioCommonFormat)format
                                   sampleRate:(double)sampleRate
                                     channels:(AVAudioChannelCount)channels
                                  interleaved:(BOOL)interleaved;
@property(nonatomic, readonly) double sampleRate;
@property(nonatomic, readonly) AVAudioChannelCount channelCount;
@property(nonatomic, readonly) AVAudioCommonFormat commonFormat;
@property(nonatomic, readonly, getter=isInterleaved) BOOL interleaved;
@property(nonatomic, readonly, getter=isStandard) BOOL standard;
@end

@interface AVAudioBuffer : NSObject
@property(nonatomic, readonly) AVAudioFormat *format;
@end

@interface AVAudioPCMBuffer : AVAudioBuffer
- (nullable instancetype)initWithPCMFormat:(AVAudioFormat *)format
                             frameCapacity:(AVAudioFrameCount)frameCapacity
    NS_DESIGNATED_INITIALIZER;
@property(nonatomic, readonly) AVAudioFrameCount frameCapacity;
@property(nonatomic) AVAudioFrameCount frameLength;
@property(nonatomic, readonly) NSUInteger stride;
@property(nonatomic, readonly) float *const _Nonnull *_Nullable floatChannelData;
@property(nonatomic, readonly) int16_t *const _Nonnull *_Nullable int16ChannelData;
@end

@interface AVAudioTime : NSObject
@property(nonatomic, readonly, getter=isSampleTimeValid) BOOL sampleTimeValid;
@property(nonatomic, readonly) AVAudioFramePosition sampleTime;
@property(nonatomic, readonly) double sampleRate;
@property(nonatomic, readonly, getter=isHostTimeValid) BOOL hostTimeValid;
@property(nonatomic, readonly) uint64_t hostTime;
@end

typedef uint32_t AVAudioPacketCount;

typedef NS_ENUM(NSInteger, AVAudioConverterInputStatus) {
  AVAudioConverterInputStatus_HaveData = 0,
  AVAudioConverterInputStatus_NoDataNow = 1,
  AVAudioConverterInputStatus_EndOfStream = 2,
};

typedef NS_ENUM(NSInteger, AVAudioConverterOutputStatus) {
  AVAudioConverterOutputStatus_HaveData = 0,
  AVAudioConverterOutputStatus_InputRanDry = 1,
  AVAudioConverterOutputStatus_EndOfStream = 2,
  AVAudioConverterOutputStatus_Error = 3,
};

typedef AVAudioBuffer *_Nullable (^AVAudioConverterInputBlock)(
    AVAudioPacketCount inNumberOfPackets, AVAudioConverterInputStatus *outStatus);

// Converts between formats; a sample rate conversion goes through the input-block method.
@interface AVAudioConverter : NSObject
- (nullable instancetype)initFromFormat:(AVAudioFormat *)fromFormat
                               toFormat:(AVAudioFormat *)toFormat;
@property(nonatomic, readonly) AVAudioFormat *inputFormat;
@property(nonatomic, readonly) AVAudioFormat *outputFormat;
- (void)reset;
- (AVAudioConverterOutputStatus)convertToBuffer:(AVAudioBuffer *)outputBuffer
                                          error:(NSError **)outError
                             withInputFromBlock:(AVAudioConverterInputBlock)inputBlock;
@end

typedef void (^AVAudioNodeTapBlock)(AVAudioPCMBuffer *buffer, AVAudioTime *when);

@class AVAudioEngine;

@interface AVAudioNode : NSObject
- (AVAudioFormat *)inputFormatForBus:(AVAudioNodeBus)bus;
- (AVAudioFormat *)outputFormatForBus:(AVAudioNodeBus)bus;
- (void)installTapOnBus:(AVAudioNodeBus)bus
             bufferSize:(AVAudioFrameCount)bufferSize
                 format:(AVAudioFormat *_Nullable)format
                  block:(AVAudioNodeTapBlock)tapBlock;
- (void)removeTapOnBus:(AVAudioNodeBus)bus;
- (void)reset;
@property(nonatomic, readonly, nullable) AVAudioEngine *engine;
@property(nonatomic, readonly) NSUInteger numberOfInputs;
@property(nonatomic, readonly) NSUInteger numberOfOutputs;
@end

@interface AVAudioIONode : AVAudioNode
@end

@interface AVAudioInputNode : AVAudioIONode
- (instancetype)init NS_UNAVAILABLE;
@end

@interface AVAudioEngine : NSObject
- (instancetype)init;
@property(readonly, nonatomic) AVAudioInputNode *inputNode;
- (void)prepare;
- (BOOL)startAndReturnError:(NSError **)outError;
- (void)pause;
- (void)reset;
- (void)stop;
@property(readonly, getter=isRunning) BOOL running;
@end

// Posted, with the engine as object, when the engine has stopped itself because the audio
// hardware's configuration changed (an input device unplugged or switched).
FOUNDATION_EXPORT NSString *const AVAudioEngineConfigurationChangeNotification;

typedef NSString *AVMediaType NS_TYPED_ENUM;
FOUNDATION_EXPORT AVMediaType const AVMediaTypeAudio;
FOUNDATION_EXPORT AVMediaType const AVMediaTypeVideo;

typedef NS_ENUM(NSInteger, AVAuthorizationStatus) {
  AVAuthorizationStatusNotDetermined = 0,
  AVAuthorizationStatusRestricted = 1,
  AVAuthorizationStatusDenied = 2,
  AVAuthorizationStatusAuthorized = 3,
};

@interface AVCaptureDevice : NSObject
- (instancetype)init NS_UNAVAILABLE;
+ (instancetype)new NS_UNAVAILABLE;
+ (AVAuthorizationStatus)authorizationStatusForMediaType:(AVMediaType)mediaType;
+ (void)requestAccessForMediaType:(AVMediaType)mediaType
                completionHandler:(void (^)(BOOL granted))handler;
@end

NS_ASSUME_NONNULL_END
