#include "recognizer/pocketsphinx/sphinx_params.h"

#include <array>
#include <bit>
#include <string_view>

#include "recognizer/pocketsphinx/model_file_reader.h"

namespace mic::model_files {
namespace {

constexpr uint32_t kByteOrderMagic = 0x11223344;

// What comes before the body of a Sphinx-3 parameter file.
struct S3Header {
  uint64_t bodyOffset = 0;  // just past the byte-order magic
  bool swap = false;
  bool checksummed = false;
};

// The library's header reader exits the process on anything it cannot parse, so this accepts
// only what it parses: "s3", then "name value" lines (or '#' comments) up to "endhdr", then the
// byte-order magic. The older header form is not accepted: no model we know of uses it.
Result<S3Header> readS3Header(std::string_view bytes) {
  constexpr size_t kLongestLine = 16000;  // the library reads lines into a 16 KiB buffer
  constexpr int kMostArguments = 32;
  if (bytes.substr(0, 3) != "s3\n") return damage("not a Sphinx-3 parameter file");
  S3Header header;
  size_t pos = 3;
  int arguments = 0;
  for (;;) {
    const size_t end = bytes.find('\n', pos);
    if (end == std::string_view::npos) return damage("cut short in its header");
    if (end - pos > kLongestLine) return damage("header line too long");
    const std::string_view line = bytes.substr(pos, end - pos);
    pos = end + 1;
    constexpr std::string_view kSpace = " \t\r\f\v";
    const size_t nameStart = line.find_first_not_of(kSpace);
    if (nameStart == std::string_view::npos) return damage("blank line in its header");
    const size_t nameEnd = std::min(line.find_first_of(kSpace, nameStart), line.size());
    const std::string_view name = line.substr(nameStart, nameEnd - nameStart);
    if (name == "endhdr") break;
    if (name[0] == '#') continue;
    if (++arguments > kMostArguments) return damage("too many header lines");
    if (line.find_first_not_of(kSpace, nameEnd) == std::string_view::npos) {
      return damage("header line without a value");
    }
    if (name == "chksum0") header.checksummed = true;
  }
  const Words native(bytes, false);
  const auto magic = native.at(pos);
  if (!magic) return damage(kShort);
  if (*magic == swapped(kByteOrderMagic)) {
    header.swap = true;
  } else if (*magic != kByteOrderMagic) {
    return damage("no byte-order mark after its header");
  }
  header.bodyOffset = pos + 4;
  return header;
}

// The library's running checksum over the body's 32-bit words (counts and data alike), compared
// with the word that follows them. A mismatch makes the library exit.
bool checksumMatches(const Words& words, uint64_t begin, uint64_t end) {
  uint32_t sum = 0;
  for (uint64_t at = begin; at < end; at += 4) sum = std::rotl(sum, 20) + *words.at(at);
  const auto stored = words.at(end);
  return stored && *stored == sum;
}

// A parameter file read whole: the small acoustic model files are read by the library anyway,
// and the checksum needs every word.
struct S3File {
  std::string bytes;
  S3Header header;
  Words words() const { return Words(bytes, header.swap); }
};

Result<S3File> readS3File(const std::string& path) {
  auto bytes = File(path).readAll();
  if (!bytes) return bytes.status();
  auto header = readS3Header(*bytes);
  if (!header) return header.status();
  return S3File{std::move(bytes).value(), *header};
}

// The four counts that open the body of a transition matrix or mixture weight file.
Result<std::array<int32_t, 4>> fourCounts(const S3File& file) {
  const Words words = file.words();
  std::array<int32_t, 4> counts;
  for (size_t i = 0; i < counts.size(); ++i) {
    const auto count = words.signedAt(file.header.bodyOffset + 4 * i);
    if (!count) return damage(kShort);
    counts[i] = *count;
  }
  return counts;
}

// The body [begin, end) of 32-bit words, then the checksum if the header promises one; nothing
// after that when `exact` (the library rejects trailing data in these files).
Status bodyFits(const S3File& file, uint64_t end, bool exact) {
  const uint64_t total = end + (file.header.checksummed ? 4 : 0);
  if (file.bytes.size() < total) return damage(kShort);
  if (exact && file.bytes.size() != total) return damage("data after its body");
  if (file.header.checksummed && !checksumMatches(file.words(), file.header.bodyOffset, end)) {
    return damage("checksum does not match");
  }
  return {};
}

float floatAt(const Words& words, uint64_t offset) {
  return std::bit_cast<float>(*words.at(offset));
}

Result<GaussianShape> gaussiansIn(const std::string& path) {
  const auto file = readS3File(path);
  if (!file) return file.status();
  const Words words = file->words();
  uint64_t at = file->header.bodyOffset;
  GaussianShape shape;
  auto next = [&]() -> std::optional<int32_t> {
    auto v = words.signedAt(at);
    at += 4;
    return v;
  };
  auto codebooks = next(), features = next(), densities = next();
  if (!codebooks || !features || !densities) return damage(kShort);
  shape.codebooks = *codebooks;
  shape.features = *features;
  shape.densities = *densities;
  if (shape.codebooks <= 0 || shape.features <= 0 || shape.features > 64 || shape.densities <= 0) {
    return damage("counts out of range");
  }
  int64_t vectorLength = 0;
  for (int32_t i = 0; i < shape.features; ++i) {
    auto length = next();
    if (!length) return damage(kShort);
    if (*length <= 0) return damage("counts out of range");
    shape.featureLengths.push_back(*length);
    vectorLength += *length;
  }
  const auto count = next();
  const auto expected = product({shape.codebooks, shape.densities, vectorLength});
  if (!count) return damage(kShort);
  if (!expected || static_cast<uint64_t>(*count) != *expected) {
    return damage("count does not match its dimensions");
  }
  const auto floats = product({*count, 4});
  if (!floats) return damage("counts out of range");
  if (Status fits = bodyFits(*file, at + *floats, true); !fits.ok()) return fits;
  return shape;
}

Status transitionMatricesIn(const std::string& path) {
  const auto file = readS3File(path);
  if (!file) return file.status();
  const auto counts = fourCounts(*file);
  if (!counts) return counts.status();
  const auto [matrices, from, to, count] = *counts;
  const Words words = file->words();
  // The library exits on each of these.
  if (matrices <= 0 || matrices >= 32767 || from <= 0 || to != from + 1) {
    return damage("counts out of range");
  }
  const auto expected = product({matrices, from, to});
  if (!expected || static_cast<uint64_t>(count) != *expected) {
    return damage("count does not match its dimensions");
  }
  const uint64_t data = file->header.bodyOffset + 16;
  // Trailing data only draws a complaint from the library.
  if (Status fits = bodyFits(*file, data + 4 * *expected, false); !fits.ok()) return fits;
  // It also exits when a matrix goes backwards or skips more than one state. Any non-zero
  // probability survives its flooring and quantization, so the test is exact on zero.
  for (int32_t m = 0; m < matrices; ++m) {
    for (int32_t src = 0; src < from; ++src) {
      for (int32_t dst = 0; dst < to; ++dst) {
        const bool forbidden = (dst < src) || (dst >= src + 3);
        const uint64_t at = data + 4 * ((static_cast<uint64_t>(m) * from + src) * to + dst);
        if (forbidden && floatAt(words, at) != 0.0f) return damage("a transition that skips back");
      }
    }
  }
  return {};
}

Status mixtureWeightsIn(const std::string& path, int32_t features) {
  const auto file = readS3File(path);
  if (!file) return file.status();
  const auto counts = fourCounts(*file);
  if (!counts) return counts.status();
  const auto [senones, streams, components, count] = *counts;
  if (streams != features) return damage("stream count differs from the means'");
  const auto expected = product({senones, streams, components});
  if (!expected || *expected == 0 || static_cast<uint64_t>(count) != *expected) {
    return damage("count does not match its dimensions");
  }
  return bodyFits(*file, file->header.bodyOffset + 16 + 4 * *expected, true);
}

}  // namespace

Result<GaussianShape> checkGaussians(const std::string& path) {
  return inFile(path, gaussiansIn(path));
}

Status checkTransitionMatrices(const std::string& path) {
  return inFile(path, transitionMatricesIn(path));
}

Status checkMixtureWeights(const std::string& path, int32_t features) {
  return inFile(path, mixtureWeightsIn(path, features));
}

}  // namespace mic::model_files
