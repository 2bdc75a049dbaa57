#include "platform/linux/large_pages.h"

#include <gtest/gtest.h>
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
TEST(LargePagesTest, HeapForTheModelIsAdvised) {
  std::string mode;
  std::getline(std::ifstream("/sys/kernel/mm/transparent_hugepage/enabled"), mode);
  if (mode.find("[always]") == std::string::npos && mode.find("[madvise]") == std::string::npos) {
    GTEST_SKIP() << "this kernel gives no transparent huge pages on request: '" << mode << "'";
  }
  EXPECT_EXIT(
      {
        useLargePagesForModel();
        _exit(heapAdvised(size_t{96} << 20) ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace mic
