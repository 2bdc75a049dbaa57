// Damaged model definitions: the checks must turn them down, since the library reads past the end
// of a short one.

#include "recognizer/pocketsphinx/model_definition.h"

#include <gtest/gtest.h>

#include "recognizer/pocketsphinx/model_fixture.h"

namespace mic {
namespace {

namespace fx = model_fixture;
namespace mf = model_files;
using ModelDefinition = fx::TempDir;

TEST_F(ModelDefinition, EitherByteOrder) {
  for (bool swap : {false, true}) {
    const auto definition = mf::checkModelDefinition(file("mdef", fx::binaryDefinition(swap)));
    ASSERT_TRUE(definition) << definition.status().message();
    EXPECT_EQ(definition->basePhones, 1);
    EXPECT_EQ(definition->senones, 3);
  }
}

TEST_F(ModelDefinition, EveryTruncationIsCaught) {
  const auto accepted = [](const auto& path) { return mf::checkModelDefinition(path).ok(); };
  expectEveryTruncationCaught("mdef", fx::binaryDefinition(), accepted);
  expectEveryTruncationCaught("text-mdef", fx::textDefinition(), accepted);
}

TEST_F(ModelDefinition, TrailingDataTheLibraryIgnores) {
  EXPECT_TRUE(mf::checkModelDefinition(file("mdef", fx::binaryDefinition() + "x")).ok());
}

TEST_F(ModelDefinition, ATextModelDefinitionNeedsAllItsPhones) {
  EXPECT_TRUE(mf::checkModelDefinition(file("mdef", fx::textDefinition())).ok());
  std::string more = fx::textDefinition();
  more.replace(more.find("0 n_tri"), 7, "1 n_tri");
  EXPECT_FALSE(mf::checkModelDefinition(file("mdef", more)).ok());
}

}  // namespace
}  // namespace mic
