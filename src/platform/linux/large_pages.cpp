#include "platform/linux/large_pages.h"

#include <fcntl.h>
#include <malloc.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace mic {
namespace {

constexpr size_t kLargePage = size_t{2} << 20;
// More than the model needs, so the heap never grows past the region given large pages.
constexpr size_t kModelHeap = size_t{192} << 20;
// The C library's own default.
constexpr size_t kDefaultTopPad = size_t{128} << 10;

uintptr_t roundedUp(uintptr_t address) { return (address + kLargePage - 1) & ~(kLargePage - 1); }

// Whether the kernel gives transparent huge pages to memory that asks for them.
bool largePagesOnRequest() {
  char mode[128] = {};
  const int fd = ::open("/sys/kernel/mm/transparent_hugepage/enabled", O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  const ssize_t n = ::read(fd, mode, sizeof mode - 1);
  ::close(fd);
  if (n <= 0) return false;
  return std::strstr(mode, "[always]") || std::strstr(mode, "[madvise]");
}

}  // namespace

void useLargePagesForModel() {
  // Without large pages, a heap grown ahead would only cost memory: the C library clears what it
  // hands out from it, where the kernel's fresh pages stay untouched until used.
  if (!largePagesOnRequest()) return;
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
  }
}

void endLargePagesForModel() { mallopt(M_TOP_PAD, kDefaultTopPad); }

}  // namespace mic
