#pragma once

// The files of a tiny but well-formed acoustic model: one base phone, three senones, one
// transition matrix, two Gaussians a codebook. Tests write them and then damage one.

#include <gtest/gtest.h>
#include <stdlib.h>

#include <bit>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <string>

namespace mic::model_fixture {

// Little-endian words (as written on this machine), or byte-swapped ones.
class Bytes {
 public:
  explicit Bytes(bool swap = false) : swap_(swap) {}
  Bytes& text(const std::string& s) {
    data_ += s;
    return *this;
  }
  Bytes& word(uint32_t w) {
    if (swap_) w = __builtin_bswap32(w);
    char b[4];
    std::memcpy(b, &w, 4);
    data_.append(b, 4);
    return *this;
  }
  Bytes& words(std::initializer_list<int32_t> ws) {
    for (int32_t w : ws) word(static_cast<uint32_t>(w));
    return *this;
  }
  Bytes& half(uint16_t h) {
    if (swap_) h = static_cast<uint16_t>((h >> 8) | (h << 8));
    char b[2];
    std::memcpy(b, &h, 2);
    data_.append(b, 2);
    return *this;
  }
  Bytes& floats(std::initializer_list<float> fs) {
    for (float f : fs) word(std::bit_cast<uint32_t>(f));
    return *this;
  }
  const std::string& str() const { return data_; }

 private:
  bool swap_;
  std::string data_;
};

// A Sphinx-3 parameter file: header, magic, the body words, and their checksum.
inline std::string s3File(std::initializer_list<int32_t> counts, std::initializer_list<float> data,
                          bool swap = false, bool checksum = true) {
  Bytes b(swap);
  b.text(std::string("s3\nversion 1.0\n") + (checksum ? "chksum0 yes\n" : "") +
         "# a comment\n  endhdr\n");
  b.word(0x11223344);
  uint32_t sum = 0;
  for (int32_t c : counts) sum = std::rotl(sum, 20) + static_cast<uint32_t>(c);
  for (float f : data) sum = std::rotl(sum, 20) + std::bit_cast<uint32_t>(f);
  b.words(counts).floats(data);
  if (checksum) b.word(sum);
  return b.str();
}

// One codebook, one stream of 3 dimensions, 2 densities.
inline std::string gaussians(bool swap = false) {
  return s3File({1, 1, 2, 3, 6}, {0.5f, 1, 2, 0.25f, 1, 3}, swap);
}

// One 3-state left-to-right matrix with skips.
inline std::string transitions(bool swap = false, float backwards = 0.0f) {
  return s3File({1, 3, 4, 12}, {0.5f, 0.3f, 0.2f, 0, backwards, 0.5f, 0.3f, 0.2f, 0, 0, 0.6f, 0.4f},
                swap);
}

inline std::string binaryDefinition(bool swap = false) {
  Bytes b(swap);
  b.text(swap ? "FDMB" : "BMDF").word(1).word(8).text(std::string("desc\0\0\0\0", 8));
  // base phones, phones, states, CI senones, senones, matrices, sequences, context, nodes, sil
  b.words({1, 1, 3, 3, 3, 1, 1, 3, 0, 0});
  b.text(std::string("SIL\0", 4));
  b.words({0, 0}).text(std::string("\1\0\0\0", 4));  // the phone: sequence 0, matrix 0, filler
  b.word(3).half(0).half(1).half(2);                 // one sequence of three senones
  return b.str();
}

inline std::string textDefinition() {
  return "0.3\n1 n_base\n0 n_tri\n4 n_state_map\n3 n_tied_state\n3 n_tied_ci_state\n"
         "1 n_tied_tmat\n#\n# Columns definitions\n#base lft  rt p attrib tmat ... state id's ...\n"
         "SIL - - - filler 0 0 1 2 N\n";
}

// Senone weights: 1 stream x 2 densities x 3 senones, one byte each.
inline std::string senoneDump(bool swap = false) {
  Bytes b(swap);
  for (const char* s : {"title", "description", "feature_count 1", "cluster_count 0"}) {
    b.word(static_cast<uint32_t>(std::strlen(s) + 1)).text(std::string(s, std::strlen(s) + 1));
  }
  b.word(0).words({2, 3}).text("abcdef");
  return b.str();
}

inline void write(const std::filesystem::path& path, const std::string& content) {
  std::filesystem::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary | std::ios::trunc) << content;
}

// root/<name>/{<name>/..., <name>.lm.bin, cmudict-<name>.dict}
inline void writeModel(const std::filesystem::path& root, const std::string& name) {
  const auto dir = root / name;
  const auto acoustic = dir / name;
  write(acoustic / "mdef", binaryDefinition());
  write(acoustic / "means", gaussians());
  write(acoustic / "variances", gaussians());
  write(acoustic / "transition_matrices", transitions());
  write(acoustic / "sendump", senoneDump());
  write(acoustic / "feat.params", "-feat 1s_c_d_dd\n");
  write(acoustic / "noisedict", "<s> SIL\n");
  write(dir / (name + ".lm.bin"), "language model");
  write(dir / ("cmudict-" + name + ".dict"), "hello HH AH L OW\n");
}

// A temporary directory for a test's files, removed after it.
class TempDir : public ::testing::Test {
 protected:
  void SetUp() override {
    char dir[] = "/tmp/mic-model-files-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    root_ = dir;
  }
  void TearDown() override { std::filesystem::remove_all(root_); }
  std::filesystem::path file(const std::string& name, const std::string& content) {
    write(root_ / name, content);
    return root_ / name;
  }
  // `accepted` takes `content` whole, as the file `name`, and turns down every cut of it.
  template <typename Check>
  void expectEveryTruncationCaught(const std::string& name, const std::string& content,
                                   Check accepted) {
    ASSERT_TRUE(accepted(file(name, content))) << name;
    for (size_t length = 0; length < content.size(); ++length) {
      EXPECT_FALSE(accepted(file(name, content.substr(0, length))))
          << name << " cut to " << length << " of " << content.size();
    }
  }
  std::filesystem::path root_;
};

}  // namespace mic::model_fixture
