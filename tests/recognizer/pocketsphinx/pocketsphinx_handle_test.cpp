#include "recognizer/pocketsphinx/pocketsphinx_handle.h"

#include <gtest/gtest.h>
#include <sphinxbase/err.h>

#include <cstdio>
#include <string>

namespace mic {
namespace {

// The library's messages go through the capture that replaces its log, conversions and all, and
// come back without the library's source-file prefix.
TEST(PocketSphinxLog, ErrorsAreCapturedWithEveryConversionFilledIn) {
  silencePocketSphinxLog();
  takePocketSphinxError();
  int object = 0;
  const std::string file(700, 'f');  // longer than any small fixed buffer
  E_ERROR("Title length %08x in dump file %s out of range at %p: %.02f%% read\n", 0xbeefu,
          file.c_str(), static_cast<void*>(&object), 42.0 / 3);
  E_WARN("a warning is no reason for a failure\n");

  char pointer[32];
  std::snprintf(pointer, sizeof pointer, "%p", static_cast<void*>(&object));
  EXPECT_EQ(takePocketSphinxError(), "Title length 0000beef in dump file " + file +
                                         " out of range at " + pointer + ": 14.00% read");
  EXPECT_EQ(takePocketSphinxError(), "") << "taking the error forgets it";
}

}  // namespace
}  // namespace mic
