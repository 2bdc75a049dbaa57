#pragma once

// Conversions at the Objective-C boundary: platform strings and exceptions become std::string
// at once, so nothing Objective-C reaches the core.

#import <Foundation/Foundation.h>

#include <string>

NS_ASSUME_NONNULL_BEGIN

namespace mic {

inline std::string toStdString(NSString* _Nullable text) {
  if (text == nil) return {};
  const char* bytes = text.UTF8String;
  return bytes != nullptr ? std::string(bytes) : std::string();
}

// Nil when `text` is not valid UTF-8.
inline NSString* _Nullable toNSString(const std::string& text) {
  return [[NSString alloc] initWithBytes:text.data()
                                  length:text.size()
                                encoding:NSUTF8StringEncoding];
}

// What an NSException says went wrong: its reason, or its name when it gives none.
inline std::string describeException(NSException* exception) {
  std::string reason = toStdString(exception.reason);
  return reason.empty() ? toStdString(exception.name) : reason;
}

}  // namespace mic

NS_ASSUME_NONNULL_END
