// Damaged model files: the checks must turn them down, naming the file and the damage, since the
// library crashes or exits on them.

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <vector>

#include "linux/pocketsphinx/model_fixture.h"
#include "platform/linux/pocketsphinx/model_files.h"
#include "platform/linux/pocketsphinx/model_locator.h"

namespace mic {
namespace {

namespace fs = std::filesystem;
namespace fx = model_fixture;
namespace mf = model_files;

std::string readFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

class TempDir : public ::testing::Test {
 protected:
  void SetUp() override {
    char dir[] = "/tmp/mic-model-damage-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    root_ = dir;
  }
  void TearDown() override { fs::remove_all(root_); }
  fs::path file(const std::string& name, const std::string& content) {
    fx::write(root_ / name, content);
    return root_ / name;
  }
  fs::path root_;
};

// --- the checks on small files made here ---------------------------------------------------------

using ModelFiles = TempDir;

TEST_F(ModelFiles, ParameterFilesInEitherByteOrder) {
  for (bool swap : {false, true}) {
    const auto shape = mf::checkGaussians(file("means", fx::gaussians(swap)));
    ASSERT_TRUE(shape) << shape.status().message();
    EXPECT_EQ(shape->codebooks, 1);
    EXPECT_EQ(shape->features, 1);
    EXPECT_EQ(shape->densities, 2);
    EXPECT_EQ(shape->featureLengths, std::vector<int32_t>{3});
    EXPECT_TRUE(mf::checkTransitionMatrices(file("tmat", fx::transitions(swap))).ok());
    const auto definition = mf::checkModelDefinition(file("mdef", fx::binaryDefinition(swap)));
    ASSERT_TRUE(definition) << definition.status().message();
    EXPECT_EQ(definition->basePhones, 1);
    EXPECT_EQ(definition->senones, 3);
    EXPECT_TRUE(
        mf::checkSenoneDump(file("sendump", fx::senoneDump(swap)), *shape, *definition).ok());
  }
  // Without a checksum there is nothing to compare, and none is expected at the end.
  EXPECT_TRUE(
      mf::checkGaussians(file("plain", fx::s3File({1, 1, 1, 2, 2}, {1, 2}, false, false))).ok());
}

TEST_F(ModelFiles, EveryTruncationOfASmallFileIsCaught) {
  const mf::GaussianShape shape{1, 1, 2, {3}};
  const mf::DefinitionShape definition{1, 3};
  const std::pair<const char*, std::string> files[] = {
      {"means", fx::gaussians()},
      {"tmat", fx::transitions()},
      {"mdef", fx::binaryDefinition()},
      {"text-mdef", fx::textDefinition()},
      {"sendump", fx::senoneDump()},
      {"weights", fx::s3File({3, 1, 2, 6}, {0.5f, 0.5f, 0.5f, 0.5f, 0.5f, 0.5f})}};
  auto accepted = [&](const std::string& name, const fs::path& path) {
    if (name == "means") return mf::checkGaussians(path).ok();
    if (name == "tmat") return mf::checkTransitionMatrices(path).ok();
    if (name == "mdef" || name == "text-mdef") return mf::checkModelDefinition(path).ok();
    if (name == "sendump") return mf::checkSenoneDump(path, shape, definition).ok();
    return mf::checkMixtureWeights(path, 1).ok();
  };
  for (const auto& [name, content] : files) {
    ASSERT_TRUE(accepted(name, file(name, content))) << name;
    for (size_t length = 0; length < content.size(); ++length) {
      EXPECT_FALSE(accepted(name, file(name, content.substr(0, length))))
          << name << " cut to " << length << " of " << content.size();
    }
  }
}

TEST_F(ModelFiles, ContentTheLibraryExitsOn) {
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

TEST_F(ModelFiles, TrailingDataTheLibraryIgnores) {
  EXPECT_TRUE(mf::checkTransitionMatrices(file("tmat", fx::transitions() + "x")).ok());
  EXPECT_TRUE(mf::checkModelDefinition(file("mdef", fx::binaryDefinition() + "x")).ok());
  EXPECT_TRUE(
      mf::checkSenoneDump(file("sendump", fx::senoneDump() + "x"), {1, 1, 2, {3}}, {1, 3}).ok());
}

TEST_F(ModelFiles, ASenoneDumpMustFitTheModelItBelongsTo) {
  const auto dump = file("sendump", fx::senoneDump());
  EXPECT_TRUE(mf::checkSenoneDump(dump, {1, 1, 2, {3}}, {1, 3}).ok());
  EXPECT_FALSE(mf::checkSenoneDump(dump, {1, 1, 4, {3}}, {1, 3}).ok());     // densities
  EXPECT_FALSE(mf::checkSenoneDump(dump, {1, 2, 2, {3, 3}}, {1, 3}).ok());  // streams
  EXPECT_FALSE(mf::checkSenoneDump(dump, {1, 1, 2, {3}}, {1, 4}).ok());     // senones
}

TEST_F(ModelFiles, AFailureNamesTheFileAndTheDamage) {
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

TEST_F(ModelFiles, ATextModelDefinitionNeedsAllItsPhones) {
  EXPECT_TRUE(mf::checkModelDefinition(file("mdef", fx::textDefinition())).ok());
  std::string more = fx::textDefinition();
  more.replace(more.find("0 n_tri"), 7, "1 n_tri");
  EXPECT_FALSE(mf::checkModelDefinition(file("mdef", more)).ok());
}

// A trie language model: header, order, counts, a body, then the vocabulary's length and words.
std::string trieModel(uint32_t unigrams, const std::string& body, const std::string& vocabulary,
                      int32_t vocabularyLength) {
  std::string out = "Trie Language Model";
  out += static_cast<char>(1);
  out.append(reinterpret_cast<const char*>(&unigrams), 4);
  out += body;
  out.append(reinterpret_cast<const char*>(&vocabularyLength), 4);
  return out + vocabulary;
}

TEST_F(ModelFiles, ALanguageModelMustEndInAllItsWords) {
  const std::string words("<s>\0</s>\0hello\0", 15);
  const std::string body(40, '\x7f');
  EXPECT_TRUE(mf::checkLanguageModel(file("ok.lm.bin", trieModel(3, body, words, 15))).ok());
  // A body that happens to hold zero bytes right before the length changes nothing.
  EXPECT_TRUE(
      mf::checkLanguageModel(file("zeros.lm.bin", trieModel(3, std::string(40, '\0'), words, 15)))
          .ok());
  EXPECT_FALSE(mf::checkLanguageModel(file("few.lm.bin", trieModel(4, body, words, 15))).ok());
  EXPECT_FALSE(mf::checkLanguageModel(file("length.lm.bin", trieModel(3, body, words, 16))).ok());
  EXPECT_FALSE(
      mf::checkLanguageModel(file("cut.lm.bin", trieModel(3, body, words, 15).substr(0, 60))).ok());
  EXPECT_FALSE(mf::checkLanguageModel(file("header.lm.bin", "Trie Language Model")).ok());
  // Other formats are the library's to read.
  EXPECT_TRUE(mf::checkLanguageModel(file("arpa.lm", "\\data\\\nngram 1=1\n")).ok());
}

// --- copies of the installed model ---------------------------------------------------------------

// A copy of the installed model made of links, with one file replaced by a damaged copy.
class InstalledModelCopy : public TempDir {
 protected:
  void SetUp() override {
    if (!fs::exists(fs::path(MIC_POCKETSPHINX_MODEL_DIR) / "en-us" / "en-us" / "mdef")) {
      GTEST_SKIP() << "pocketsphinx-en-us is not installed at " << MIC_POCKETSPHINX_MODEL_DIR;
    }
    TempDir::SetUp();
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
