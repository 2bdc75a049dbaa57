// Must not compile: an NSError's text is an NSString, which does not convert to std::string.
// expect: no viable conversion from 'NSString *' to 'std::string'
#import <Foundation/Foundation.h>

#include <string>

std::string describe(NSError* error) {
  std::string text = error.localizedDescription;
  return text;
}
