#include "platform/linux/large_pages.h"

#include <fcntl.h>
#include <malloc.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace mic {
namespace {

constexpr size_t kLargePage = size_t{2} << 20;
// What the model holds (about 96 MiB of heap once loaded, en-us) and a margin, so the heap seldom
// grows past the region given large pages.
constexpr size_t kModelHeap = size_t{128} << 20;
// What the run maps besides, once started: the sound server's memory, the threads' stacks, the
// libraries' own allocations.
constexpr size_t kRestOfRun = size_t{32} << 20;
// The C library's own defaults.
constexpr size_t kDefaultTopPad = size_t{128} << 10;
constexpr int kDefaultMmapThreshold = 128 << 10;

uintptr_t roundedUp(uintptr_t address) { return (address + kLargePage - 1) & ~(kLargePage - 1); }

// The start of a small kernel file, as a C string; false when it cannot be read. Plain open and
// read: this runs before anything else is set up.
bool readStart(const char* path, char (&text)[128]) {
  const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  const ssize_t n = ::read(fd, text, sizeof text - 1);
  ::close(fd);
  if (n <= 0) return false;
  text[n] = '\0';
  return true;
}

// Whether the kernel gives transparent huge pages to memory that asks for them.
bool largePagesOnRequest() {
  char mode[128] = {};
  if (!readStart("/sys/kernel/mm/transparent_hugepage/enabled", mode)) return false;
  return std::strstr(mode, "[always]") || std::strstr(mode, "[madvise]");
}

// Whether the address space the process may have leaves room for the reservation and the rest of
// the run: the reservation must never be what makes a run fail.
bool roomForReservation() {
  rlimit limit{};
  if (::getrlimit(RLIMIT_AS, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return true;
  char statm[128] = {};
  if (!readStart("/proc/self/statm", statm)) return false;
  const size_t used =
      std::strtoull(statm, nullptr, 10) * static_cast<size_t>(::sysconf(_SC_PAGESIZE));
  return used + kModelHeap + kRestOfRun <= limit.rlim_cur;
}

}  // namespace

void useLargePagesForModel() {
  // Without large pages, a heap grown ahead would only cost memory: the C library clears what it
  // hands out from it, where the kernel's fresh pages stay untouched until used.
  if (!largePagesOnRequest() || !roomForReservation()) return;
  // One heap, or each thread's allocations go to an arena of its own that cannot be advised as a
  // whole; large blocks (the language model's tables) from it too, instead of separate mappings.
  mallopt(M_ARENA_MAX, 1);
  mallopt(M_MMAP_THRESHOLD, 32 << 20);  // the most it takes
  mallopt(M_TOP_PAD, kModelHeap);
  // Only what this growth of the heap added is advised: under a sanitizer's allocator the break
  // does not move, and nothing is.
  const auto before = reinterpret_cast<uintptr_t>(sbrk(0));
  // More than the heap has left; volatile, or the compiler drops an allocation freed unused.
  void* volatile grow = std::malloc(size_t{1} << 20);
  const auto after = reinterpret_cast<uintptr_t>(sbrk(0));
  std::free(grow);
  const uintptr_t begin = roundedUp(before);
  const uintptr_t end = after & ~(kLargePage - 1);
  if (after - before >= kModelHeap && end > begin) {
    madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
  } else if (after == before) {
    // The heap could not grow (the break is blocked, or memory is short): the C library's own
    // ways from here on, at once.
    endLargePagesForModel();
    mallopt(M_MMAP_THRESHOLD, kDefaultMmapThreshold);
  }
}

void endLargePagesForModel() { mallopt(M_TOP_PAD, kDefaultTopPad); }

}  // namespace mic
