#include "platform/apple/apple_locales.h"

#import <Foundation/Foundation.h>

#include "platform/apple/apple_strings.h"

namespace mic {
namespace {

class AppleLocales final : public Locales {
 public:
  // The identifier keeps the user's region and keywords, so the recognizer's NSLocale built
  // from it is the current locale again.
  Locale current() override {
    @autoreleasepool {
      return Locale{toStdString(NSLocale.currentLocale.localeIdentifier)};
    }
  }

  Locale fromIdentifier(const std::string& identifier) override { return Locale{identifier}; }
};

}  // namespace

std::unique_ptr<Locales> makeAppleLocales() { return std::make_unique<AppleLocales>(); }

}  // namespace mic
