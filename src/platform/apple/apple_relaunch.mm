#include <dlfcn.h>
#include <mach-o/dyld.h>
#include <spawn.h>
#include <stdlib.h>

#include <cstdint>
#include <cstring>
#include <optional>
#include <string>

#include "platform/apple/relaunch.h"
#include "platform/platform.h"

namespace mic {
namespace {

// Not in the SDK's headers: the system library's since macOS 10.14, and what debuggers and IDEs
// (LLDB, Qt Creator) set for the programs they start. Looked up when the program runs, so that a
// system without it runs the program as before.
using SetDisclaim = int (*)(posix_spawnattr_t* attributes, bool disclaim);

SetDisclaim findSetDisclaim() {
  return reinterpret_cast<SetDisclaim>(
      ::dlsym(RTLD_DEFAULT, "responsibility_spawnattrs_setdisclaim"));
}

std::string executablePath() {
  uint32_t size = 0;
  ::_NSGetExecutablePath(nullptr, &size);  // fails, saying how much room the path needs
  std::string path(size, '\0');
  if (size == 0 || ::_NSGetExecutablePath(path.data(), &size) != 0) return {};
  path.resize(std::strlen(path.c_str()));
  return path;
}

}  // namespace

// macOS asks the responsible process's Info.plist for the usage descriptions, and kills the
// program when it lacks them: started from Terminal, an editor or an agent host, that process is
// the app that started it, not this program. A copy started with the responsibility disclaimed is
// its own responsible process, so its own embedded Info.plist and signature are what macOS reads
// and what the prompts name.
std::optional<int> relaunchAsOwnResponsibleProcess(char** argv) {
  if (::getenv(kRelaunchedMarker) != nullptr) return std::nullopt;
  const SetDisclaim setDisclaim = findSetDisclaim();
  if (setDisclaim == nullptr) return std::nullopt;
  const std::string path = executablePath();
  if (path.empty()) return std::nullopt;

  return superviseCopy(path.c_str(), argv, [setDisclaim](posix_spawnattr_t* attributes) {
    return setDisclaim(attributes, true) == 0;
  });
}

}  // namespace mic
