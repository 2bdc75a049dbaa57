#include "recognizer/pocketsphinx/model_locator.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "recognizer/pocketsphinx/model_check.h"
#include "recognizer/pocketsphinx/model_fixture.h"

namespace mic {
namespace {

namespace fs = std::filesystem;

// A model tree in a temporary directory, with models that look complete to the locator.
class ModelTree : public model_fixture::TempDir {
 protected:
  static void write(const fs::path& path, const std::string& content) {
    model_fixture::write(path, content);
  }

  void addModel(const std::string& name) { addModelAt(root_, name); }

  static void addModelAt(const fs::path& base, const std::string& name) {
    model_fixture::writeModel(base, name);
  }

  std::optional<std::string> found(const std::string& identifier) {
    auto model = locateModel(root_.string(), identifier);
    if (!model) return std::nullopt;
    return model->name;
  }
};

TEST_F(ModelTree, IdentifiersNamingTheInstalledModel) {
  addModel("en-us");
  for (const char* identifier : {"en-us", "en-US", "en_US", "EN_us", "en_US.UTF-8", "en_US@euro",
                                 "en_US.UTF-8@euro", "en", "EN", "", "C", "POSIX", "C.UTF-8"}) {
    EXPECT_EQ(found(identifier), "en-us") << '"' << identifier << '"';
  }
  const auto model = locateModel(root_.string(), "en_US");
  ASSERT_TRUE(model);
  EXPECT_EQ(model->acousticModel, (root_ / "en-us" / "en-us").string());
  EXPECT_EQ(model->languageModel, (root_ / "en-us" / "en-us.lm.bin").string());
  EXPECT_EQ(model->dictionary, (root_ / "en-us" / "cmudict-en-us.dict").string());
}

TEST_F(ModelTree, IdentifiersThatNameNoModel) {
  addModel("en-us");
  for (const char* identifier :
       {"fr-FR",   "fr",      "en-gb",          "en-us-x",    "e",      "us",    "auto",
        "en us",   "en-us/",  "en-us/../en-us", "../en-us",   "..",     ".",     "/en-us",
        "en-us\\", "./en-us", "en-us:",         "en\xc3\xa9", ".UTF-8", "@euro", "en-us\n"}) {
    EXPECT_EQ(found(identifier), std::nullopt) << '"' << identifier << '"';
  }
}

TEST_F(ModelTree, ABareLanguageNeedsExactlyOneModel) {
  addModel("en-us");
  addModel("en-gb");
  addModel("fr-fr");
  EXPECT_EQ(found("en"), std::nullopt);
  EXPECT_EQ(found("fr"), "fr-fr");
  EXPECT_EQ(found("en_GB"), "en-gb");
  // An incomplete second model does not make the language ambiguous.
  fs::remove(root_ / "en-gb" / "en-gb.lm.bin");
  EXPECT_EQ(found("en"), "en-us");
}

TEST_F(ModelTree, NoPathOutsideTheListedModels) {
  // A model outside the root, reachable only by a path.
  const fs::path outside = root_ / "outside";
  addModelAt(outside, "zz-zz");
  EXPECT_EQ(found("zz-zz"), std::nullopt);
  EXPECT_EQ(found("outside/zz-zz"), std::nullopt);
  EXPECT_EQ(found("../outside/zz-zz"), std::nullopt);
  // A link the administrator put in the model directory is a listed model like any other.
  fs::create_directory_symlink(outside / "zz-zz", root_ / "zz-zz");
  EXPECT_EQ(found("zz_ZZ"), "zz-zz");
  // A dangling link is not.
  fs::create_directory_symlink(root_ / "missing", root_ / "qq-qq");
  EXPECT_EQ(found("qq-qq"), std::nullopt);
}

TEST_F(ModelTree, NoRootNoModel) {
  EXPECT_FALSE(locateModel((root_ / "absent").string(), "en-US"));
  addModel("en-us");
  EXPECT_FALSE(locateModel((root_ / "en-us" / "en-us.lm.bin").string(), "en-US"));
}

TEST(InstalledModels, EnglishIsFoundUnderTheSystemModelDirectory) {
  if (!fs::exists(MIC_POCKETSPHINX_MODEL_DIR)) {
    GTEST_SKIP() << "pocketsphinx-en-us is not installed at " << MIC_POCKETSPHINX_MODEL_DIR;
  }
  auto model = locateModel(MIC_POCKETSPHINX_MODEL_DIR, "en_US.UTF-8");
  ASSERT_TRUE(model);
  EXPECT_EQ(model->name, "en-us");
  EXPECT_TRUE(checkModel(*model).ok()) << checkModel(*model).message();
}

}  // namespace
}  // namespace mic
