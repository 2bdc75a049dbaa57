// Damaged Sphinx-3 parameter files: the checks must turn them down, since the library exits on
// them.

#include "recognizer/pocketsphinx/sphinx_params.h"

#include <gtest/gtest.h>

#include <vector>

#include "recognizer/pocketsphinx/model_fixture.h"

namespace mic {
namespace {

namespace fx = model_fixture;
namespace mf = model_files;
using SphinxParams = fx::TempDir;

TEST_F(SphinxParams, EitherByteOrder) {
  for (bool swap : {false, true}) {
    const auto shape = mf::checkGaussians(file("means", fx::gaussians(swap)));
    ASSERT_TRUE(shape) << shape.status().message();
    EXPECT_EQ(shape->codebooks, 1);
    EXPECT_EQ(shape->features, 1);
    EXPECT_EQ(shape->densities, 2);
    EXPECT_EQ(shape->featureLengths, std::vector<int32_t>{3});
    EXPECT_TRUE(mf::checkTransitionMatrices(file("tmat", fx::transitions(swap))).ok());
  }
  // Without a checksum there is nothing to compare, and none is expected at the end.
  EXPECT_TRUE(
      mf::checkGaussians(file("plain", fx::s3File({1, 1, 1, 2, 2}, {1, 2}, false, false))).ok());
}

TEST_F(SphinxParams, EveryTruncationIsCaught) {
  expectEveryTruncationCaught("means", fx::gaussians(),
                              [](const auto& path) { return mf::checkGaussians(path).ok(); });
  expectEveryTruncationCaught("tmat", fx::transitions(), [](const auto& path) {
    return mf::checkTransitionMatrices(path).ok();
  });
  expectEveryTruncationCaught(
      "weights", fx::s3File({3, 1, 2, 6}, {0.5f, 0.5f, 0.5f, 0.5f, 0.5f, 0.5f}),
      [](const auto& path) { return mf::checkMixtureWeights(path, 1).ok(); });
}

TEST_F(SphinxParams, ContentTheLibraryExitsOn) {
  // A changed value no longer matches the checksum.
  std::string means = fx::gaussians();
  means[means.size() - 6] ^= 0x40;
  EXPECT_FALSE(mf::checkGaussians(file("means", means)).ok());
  std::string tmat = fx::transitions();
  tmat[tmat.size() - 10] ^= 0x01;
  EXPECT_FALSE(mf::checkTransitionMatrices(file("tmat", tmat)).ok());
  // Data beyond the body.
  EXPECT_FALSE(mf::checkGaussians(file("means", fx::gaussians() + "x")).ok());
  // A transition back to an earlier state.
  EXPECT_FALSE(mf::checkTransitionMatrices(file("tmat", fx::transitions(false, 0.1f))).ok());
  // A matrix whose destinations are not its sources plus the exit.
  EXPECT_FALSE(
      mf::checkTransitionMatrices(file("tmat", fx::s3File({1, 2, 2, 4}, {1, 0, 0, 1}))).ok());
  // A count that does not match the dimensions.
  EXPECT_FALSE(
      mf::checkGaussians(file("means", fx::s3File({1, 1, 2, 3, 5}, {1, 2, 3, 4, 5}))).ok());
  // Header lines the library cannot parse: a blank one, a name without a value, a wrong magic.
  EXPECT_FALSE(mf::checkGaussians(file("means", "s3\n\nendhdr\n\x44\x33\x22\x11")).ok());
  EXPECT_FALSE(mf::checkGaussians(file("means", "s3\nversion\nendhdr\n")).ok());
  std::string magic = fx::gaussians();
  magic[magic.find("endhdr\n") + 7] = 0;
  EXPECT_FALSE(mf::checkGaussians(file("means", magic)).ok());
  // Mixture weights for another number of streams than the means have.
  EXPECT_FALSE(
      mf::checkMixtureWeights(file("weights", fx::s3File({3, 1, 2, 6}, {1, 1, 1, 1, 1, 1})), 2)
          .ok());
}

TEST_F(SphinxParams, TrailingDataTheLibraryIgnores) {
  EXPECT_TRUE(mf::checkTransitionMatrices(file("tmat", fx::transitions() + "x")).ok());
}

}  // namespace
}  // namespace mic
