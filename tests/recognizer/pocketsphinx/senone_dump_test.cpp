// Damaged senone dumps: the checks must turn them down, since the library walks the dump by counts
// of its own.

#include "recognizer/pocketsphinx/senone_dump.h"

#include <gtest/gtest.h>

#include "recognizer/pocketsphinx/model_fixture.h"

namespace mic {
namespace {

namespace fx = model_fixture;
namespace mf = model_files;
using SenoneDump = fx::TempDir;

// The shapes of the fixture's means and model definition.
const mf::GaussianShape kShape{1, 1, 2, {3}};
const mf::DefinitionShape kDefinition{1, 3};

TEST_F(SenoneDump, EitherByteOrder) {
  for (bool swap : {false, true}) {
    EXPECT_TRUE(
        mf::checkSenoneDump(file("sendump", fx::senoneDump(swap)), kShape, kDefinition).ok())
        << swap;
  }
}

TEST_F(SenoneDump, EveryTruncationIsCaught) {
  expectEveryTruncationCaught("sendump", fx::senoneDump(), [](const auto& path) {
    return mf::checkSenoneDump(path, kShape, kDefinition).ok();
  });
}

TEST_F(SenoneDump, TrailingDataTheLibraryIgnores) {
  EXPECT_TRUE(
      mf::checkSenoneDump(file("sendump", fx::senoneDump() + "x"), {1, 1, 2, {3}}, {1, 3}).ok());
}

TEST_F(SenoneDump, MustFitTheModelItBelongsTo) {
  const auto dump = file("sendump", fx::senoneDump());
  EXPECT_TRUE(mf::checkSenoneDump(dump, {1, 1, 2, {3}}, {1, 3}).ok());
  EXPECT_FALSE(mf::checkSenoneDump(dump, {1, 1, 4, {3}}, {1, 3}).ok());     // densities
  EXPECT_FALSE(mf::checkSenoneDump(dump, {1, 2, 2, {3, 3}}, {1, 3}).ok());  // streams
  EXPECT_FALSE(mf::checkSenoneDump(dump, {1, 1, 2, {3}}, {1, 4}).ok());     // senones
}

}  // namespace
}  // namespace mic
