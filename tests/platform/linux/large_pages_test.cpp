#include "platform/linux/large_pages.h"

#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>

namespace mic {
namespace {

// Whether some part of the heap of at least `bytes` is advised for large pages.
bool heapAdvised(size_t bytes) {
  std::ifstream maps("/proc/self/smaps");
  bool inHeap = false;
  size_t size = 0;
  for (std::string line; std::getline(maps, line);) {
    unsigned long begin = 0, end = 0;
    if (std::sscanf(line.c_str(), "%lx-%lx ", &begin, &end) == 2) {
      inHeap = line.ends_with("[heap]");
      size = end - begin;
    } else if (inHeap && line.starts_with("VmFlags:") && line.find(" hg") != std::string::npos &&
               size >= bytes) {
      return true;
    }
  }
  return false;
}

// The advice must reach memory the load will use: the heap has to have grown first (a compiler
// may drop an allocation that is freed unused, and then nothing is advised).
bool largePagesOnRequest(std::string* mode) {
  std::getline(std::ifstream("/sys/kernel/mm/transparent_hugepage/enabled"), *mode);
  return mode->find("[always]") != std::string::npos ||
         mode->find("[madvise]") != std::string::npos;
}

size_t addressSpaceInUse() {
  size_t pages = 0;
  std::ifstream("/proc/self/statm") >> pages;
  return pages * static_cast<size_t>(sysconf(_SC_PAGESIZE));
}

TEST(LargePagesTest, HeapForTheModelIsAdvised) {
  std::string mode;
  if (!largePagesOnRequest(&mode)) {
    GTEST_SKIP() << "this kernel gives no transparent huge pages on request: '" << mode << "'";
  }
  EXPECT_EXIT(
      {
        useLargePagesForModel();
        _exit(heapAdvised(size_t{96} << 20) ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
}

// Exits with 0 when, under a limit 140 MiB above what is in use, what a run maps beside the heap
// (the sound server's memory, the threads' stacks) still finds room after the reservation.
[[noreturn]] void reserveUnderATightLimit() {
  const rlim_t limit = addressSpaceInUse() + (size_t{140} << 20);
  rlimit asked{};
  asked.rlim_cur = asked.rlim_max = limit;
  if (setrlimit(RLIMIT_AS, &asked) != 0) _exit(2);
  useLargePagesForModel();
  void* rest =
      mmap(nullptr, size_t{30} << 20, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  _exit(rest == MAP_FAILED ? 1 : 0);
}

// Under a limit on the address space, the reservation is made only with room to spare beside it:
// a run must never fail for want of what the reservation took.
TEST(LargePagesTest, ALimitWithoutRoomBesideTheReservationGetsNone) {
  std::string mode;
  if (!largePagesOnRequest(&mode)) {
    GTEST_SKIP() << "this kernel gives no transparent huge pages on request: '" << mode << "'";
  }
  EXPECT_EXIT(reserveUnderATightLimit(), ::testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace mic
