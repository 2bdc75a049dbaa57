#include "platform/linux/capture/pulse_memory.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "platform/write_all.h"

namespace mic {
namespace {

namespace fs = std::filesystem;

constexpr const char* kConfigVariable = "PULSE_CLIENTCONFIG";
// Two of libpulse's 64 KiB slots, the least it takes: received audio that finds the pool full
// goes to the heap instead.
constexpr const char* kSettings = "enable-shm = no\nshm-size-bytes = 131072\n";

bool addressSpaceLimited() {
  rlimit limit{};
  return ::getrlimit(RLIMIT_AS, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY;
}

bool readable(const fs::path& path) { return ::access(path.c_str(), R_OK) == 0; }

std::string variable(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

// The client.conf libpulse would read, looked for as libpulse looks: the variable naming one, then
// the user's own, then the system's.
std::string usersConfig() {
  if (const std::string named = variable(kConfigVariable); !named.empty()) return named;
  std::vector<fs::path> candidates;
  if (const std::string dir = variable("PULSE_CONFIG_PATH"); !dir.empty()) {
    candidates.push_back(fs::path(dir) / "client.conf");
  } else if (const std::string home = variable("HOME"); !home.empty()) {
    candidates.push_back(fs::path(home) / ".pulse" / "client.conf");
    candidates.push_back(fs::path(home) / ".config" / "pulse" / "client.conf");
  }
  candidates.emplace_back("/etc/pulse/client.conf");
  for (const auto& candidate : candidates) {
    if (readable(candidate)) return candidate.string();
  }
  return {};
}

// The user's file and the drop-ins beside it ("client.conf.d/*.conf", in order), as .include
// lines. Only files that open: a line naming one that does not ends libpulse's parsing.
std::string includes() {
  const std::string main = usersConfig();
  if (main.empty() || !readable(main)) return {};
  std::string lines = ".include " + main + "\n";
  std::error_code ec;
  std::vector<std::string> dropIns;
  for (fs::directory_iterator it(main + ".d", ec), end; !ec && it != end; it.increment(ec)) {
    if (it->path().extension() == ".conf" && readable(it->path())) {
      dropIns.push_back(it->path().string());
    }
  }
  std::sort(dropIns.begin(), dropIns.end());
  for (const auto& dropIn : dropIns) lines += ".include " + dropIn + "\n";
  return lines;
}

}  // namespace

SmallPulseMemory::SmallPulseMemory() {
  if (!addressSpaceLimited()) return;
  const std::string config = kSettings + includes();
  const int fd = ::memfd_create("mic-transcriber-pulse", MFD_CLOEXEC);
  if (fd < 0) return;
  const std::string path = "/proc/self/fd/" + std::to_string(fd);
  // Once the variable is set libpulse reads nothing else, so it must name a file that opens.
  const int check = writeAll(fd, config) ? ::open(path.c_str(), O_RDONLY | O_CLOEXEC) : -1;
  if (check < 0) {
    ::close(fd);
    return;
  }
  ::close(check);
  if (const char* users = std::getenv(kConfigVariable)) {
    hadPrevious_ = true;
    previous_ = users;
  }
  if (::setenv(kConfigVariable, path.c_str(), 1) != 0) {
    ::close(fd);
    return;
  }
  fd_ = fd;
}

SmallPulseMemory::~SmallPulseMemory() {
  if (fd_ < 0) return;
  if (hadPrevious_) {
    ::setenv(kConfigVariable, previous_.c_str(), 1);
  } else {
    ::unsetenv(kConfigVariable);
  }
  ::close(fd_);
}

}  // namespace mic
