// Must not compile: the microphone answer is a BOOL. A block taking bool only compiles where BOOL
// happens to be bool (arm64), and fails the build on Intel Macs.
// expect: (BOOL)' with an rvalue of type 'void (^)(bool)'
#import <AVFoundation/AVFoundation.h>

void askForMicrophone(void (^answer)(bool)) {
  [AVCaptureDevice requestAccessForMediaType:AVMediaTypeAudio
                           completionHandler:^(bool granted) {
                             answer(granted);
                           }];
}
