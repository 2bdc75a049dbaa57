// Damaged models: the whole-model check must turn them down, naming the file and the damage, since
// the library crashes or exits on them.

#include "recognizer/pocketsphinx/model_check.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <vector>

#include "recognizer/pocketsphinx/model_fixture.h"
#include "recognizer/pocketsphinx/model_locator.h"
#include "recognizer/pocketsphinx/sphinx_params.h"

namespace mic {
namespace {

namespace fs = std::filesystem;
namespace fx = model_fixture;
namespace mf = model_files;

std::string readFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

// --- models made here ----------------------------------------------------------------------------

class ModelCheck : public fx::TempDir {
 protected:
  static void write(const fs::path& path, const std::string& content) { fx::write(path, content); }
  void addModel(const std::string& name) { fx::writeModel(root_, name); }
  // What checkModel says of the model found for `identifier`: empty when it is sound.
  std::string damage(const std::string& identifier) {
    auto model = locateModel(root_.string(), identifier);
    if (!model) return "no model";
    return checkModel(*model).message();
  }
};

TEST_F(ModelCheck, AFailureNamesTheFileAndTheDamage) {
  EXPECT_TRUE(mf::checkTextFile(file("a", "x\n")).ok());
  const std::string a = (root_ / "a").string();
  EXPECT_EQ(mf::checkTextFile(file("a", "x\ny")).message(), a + ": cut short in a line");
  EXPECT_EQ(mf::checkTextFile(file("a", "")).message(), a + ": empty");
  EXPECT_EQ(mf::checkTextFile(root_ / "absent").message(),
            (root_ / "absent").string() + ": missing");
  EXPECT_EQ(mf::checkTextFile(root_).message(), root_.string() + ": not a regular file");
  const std::string means = fx::gaussians();
  EXPECT_EQ(mf::checkGaussians(file("means", means.substr(0, means.size() - 5))).status().message(),
            (root_ / "means").string() + ": cut short");
}

// The model is still the language's (it is installed), but the check names what is wrong with it.
TEST_F(ModelCheck, AMissingOrEmptyFileIsNamedByTheCheck) {
  const std::vector<std::string> files = {
      "xx-yy/mdef",        "xx-yy/means",       "xx-yy/variances", "xx-yy/transition_matrices",
      "xx-yy/sendump",     "xx-yy/feat.params", "xx-yy/noisedict", "xx-yy.lm.bin",
      "cmudict-xx-yy.dict"};
  for (const auto& file : files) {
    for (bool empty : {false, true}) {
      addModel("xx-yy");
      ASSERT_EQ(damage("xx-yy"), "");
      const fs::path path = root_ / "xx-yy" / file;
      if (empty) {
        std::ofstream(path, std::ios::trunc);
      } else {
        fs::remove(path);
      }
      EXPECT_EQ(damage("xx-yy"), path.string() + (empty ? ": empty" : ": missing"));
      fs::remove_all(root_ / "xx-yy");
    }
  }
}

TEST_F(ModelCheck, MixtureWeightsStandInForTheSenoneDump) {
  addModel("xx-yy");
  fs::remove(root_ / "xx-yy" / "xx-yy" / "sendump");
  write(root_ / "xx-yy" / "xx-yy" / "mixture_weights",
        model_fixture::s3File({3, 1, 2, 6}, {0.5f, 0.5f, 0.5f, 0.5f, 0.5f, 0.5f}));
  EXPECT_EQ(damage("xx-yy"), "");
}

TEST_F(ModelCheck, FilesThatAreNotModelFilesAreRejected) {
  // The library exits the process on these instead of failing.
  addModel("xx-yy");
  write(root_ / "xx-yy" / "xx-yy" / "mdef", "garbage");
  EXPECT_EQ(damage("xx-yy"),
            (root_ / "xx-yy" / "xx-yy" / "mdef").string() + ": not a model definition");
  fs::remove_all(root_ / "xx-yy");
  addModel("xx-yy");
  write(root_ / "xx-yy" / "xx-yy" / "means", "garbage");
  EXPECT_EQ(damage("xx-yy"),
            (root_ / "xx-yy" / "xx-yy" / "means").string() + ": not a Sphinx-3 parameter file");
  // Without its acoustic model directory the model is still installed, and damaged.
  fs::remove_all(root_ / "xx-yy" / "xx-yy");
  EXPECT_EQ(damage("xx-yy"), (root_ / "xx-yy" / "xx-yy").string() + ": missing");
}

// --- copies of the installed model ---------------------------------------------------------------

// A copy of the installed model made of links, with one file replaced by a damaged copy.
class InstalledModelCopy : public fx::TempDir {
 protected:
  void SetUp() override {
    if (!fs::exists(fs::path(MIC_POCKETSPHINX_MODEL_DIR) / "en-us" / "en-us" / "mdef")) {
      GTEST_SKIP() << "pocketsphinx-en-us is not installed at " << MIC_POCKETSPHINX_MODEL_DIR;
    }
    fx::TempDir::SetUp();
    const fs::path source = fs::path(MIC_POCKETSPHINX_MODEL_DIR) / "en-us";
    for (const auto& entry : fs::recursive_directory_iterator(source)) {
      const fs::path target = root_ / "en-us" / fs::relative(entry.path(), source);
      if (entry.is_directory()) {
        fs::create_directories(target);
      } else {
        fs::create_directories(target.parent_path());
        fs::create_symlink(entry.path(), target);
      }
    }
  }

  void replace(const std::string& name, const std::string& content) {
    const fs::path path = root_ / "en-us" / name;
    fs::remove(path);
    fx::write(path, content);
  }
  std::string original(const std::string& name) {
    return readFile(fs::path(MIC_POCKETSPHINX_MODEL_DIR) / "en-us" / name);
  }
  // The damage found in the copy; empty when it is sound.
  std::string damage() {
    const auto model = locateModel(root_.string(), "en_US.UTF-8");
    if (!model) return "not found: " + model.status().message();
    return checkModel(*model).message();
  }
  bool accepted() { return damage().empty(); }
};

// How much of a binary file is its header, by the layouts the files document; nothing for a text
// file (one cut just after a line is beyond what its check can see).
std::optional<size_t> headerLength(const std::string& name, const std::string& content) {
  auto word = [&](size_t at) {
    int32_t w;
    std::memcpy(&w, content.data() + at, 4);
    return w;
  };
  if (name.ends_with("mdef")) return 12 + static_cast<size_t>(word(8)) + 40;
  if (name.ends_with("sendump")) {
    size_t at = 0;
    while (int32_t n = word(at)) at += 4 + static_cast<size_t>(n);
    return at + 4 + 8;
  }
  if (content.starts_with("s3\n")) return content.find("endhdr\n") + 7 + 4;
  if (name.ends_with(".lm.bin")) return 19 + 1 + 4 * static_cast<size_t>(content[19]);
  return std::nullopt;
}

TEST_F(InstalledModelCopy, TheUntouchedModelIsAccepted) {
  EXPECT_TRUE(accepted());
  // Through a copy of every file rather than links too.
  for (const char* name : {"en-us/mdef", "en-us/sendump", "en-us/means", "cmudict-en-us.dict"}) {
    replace(name, original(name));
  }
  EXPECT_TRUE(accepted());
}

TEST_F(InstalledModelCopy, ATruncatedFileIsTurnedDown) {
  for (const char* name : {"en-us/mdef", "en-us/means", "en-us/variances",
                           "en-us/transition_matrices", "en-us/sendump", "en-us/feat.params",
                           "en-us/noisedict", "cmudict-en-us.dict", "en-us.lm.bin"}) {
    const std::string content = original(name);
    ASSERT_FALSE(content.empty()) << name;
    std::vector<size_t> lengths = {content.size() / 2, content.size() - 1};
    if (auto header = headerLength(name, content)) lengths.push_back(*header);
    for (size_t length : lengths) {
      replace(name, content.substr(0, length));
      // Named, with its damage: "<root>/en-us/<name>: cut short..."
      EXPECT_TRUE(damage().starts_with((root_ / "en-us" / name).string() + ": cut short"))
          << name << " cut to " << length << " of " << content.size() << ": " << damage();
    }
    replace(name, content);
    ASSERT_TRUE(accepted()) << name << " restored";
  }
}

TEST_F(InstalledModelCopy, AChangedParameterIsTurnedDown) {
  // The library exits on a checksum that does not match.
  for (const char* name : {"en-us/means", "en-us/variances", "en-us/transition_matrices"}) {
    std::string content = original(name);
    content[content.size() - 8] ^= 0x10;
    replace(name, content);
    EXPECT_FALSE(accepted()) << name;
    replace(name, original(name));
  }
}

TEST_F(InstalledModelCopy, MeansAndVariancesOfDifferentShapes) {
  replace("en-us/variances", fx::gaussians());
  EXPECT_FALSE(accepted());
}

}  // namespace
}  // namespace mic
