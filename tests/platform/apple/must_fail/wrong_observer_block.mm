// Must not compile: an observer block receives the notification.
// expect: void (^ _Nonnull)(NSNotification * _Nonnull __strong)
#import <AVFoundation/AVFoundation.h>

void observe(AVAudioEngine* engine) {
  [NSNotificationCenter.defaultCenter
      addObserverForName:AVAudioEngineConfigurationChangeNotification
                  object:engine
                   queue:nil
              usingBlock:^(AVAudioEngine* changed) {
                (void)changed;
              }];
}
