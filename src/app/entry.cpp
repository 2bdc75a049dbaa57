#include "app/entry.h"

#include <utility>

namespace mic {

std::vector<std::string> arguments;
std::shared_ptr<SpeechSession> session;

int runEntry(int argc, const char* const* argv, Platform platform, EmitFunction emit) {
  arguments.assign(argv, argv + argc);
  std::optional<std::string> localeIdentifier;
  // Only the first argument counts; anything that looks like an option is a locale all the same.
  if (arguments.size() >= 2) localeIdentifier = arguments[1];
  session = std::make_shared<SpeechSession>(std::move(localeIdentifier), platform, std::move(emit));
  session->start();
  platform.mainLoop.run();
  return 0;
}

}  // namespace mic
