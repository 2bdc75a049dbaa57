#include "recognizer/pocketsphinx/senone_dump.h"

#include <string_view>

#include "recognizer/pocketsphinx/model_file_reader.h"

namespace mic::model_files {
namespace {

Status senoneDumpIn(const std::string& path, const GaussianShape& gaussians,
                    const DefinitionShape& definition) {
  const File file(path);
  // The header is a few hundred bytes of length-prefixed strings; the library reads each into a
  // 1000-byte buffer.
  constexpr int64_t kLongestString = 999;
  constexpr uint64_t kLongestHeader = 64 * 1024;
  const auto head = file.read(0, std::min(file.size(), kLongestHeader));
  if (!head) return head.status();
  const Words native(*head, false);
  const auto firstLength = native.signedAt(0);
  if (!firstLength) return damage(kShort);
  const bool swap = *firstLength < 1 || *firstLength > kLongestString;
  const Words words(*head, swap);
  int64_t features = gaussians.features, densities = gaussians.densities,
          senones = definition.senones, clusters = 0, bits = 8;
  uint64_t at = 0;
  for (int index = 0;; ++index) {
    const auto length = words.signedAt(at);
    if (!length) return damage(kShort);
    at += 4;
    if (*length == 0 && index >= 2) break;  // the title and the description come first
    if (*length < 1 || *length > kLongestString) return damage("header string of a wrong length");
    if (*length > static_cast<int64_t>(head->size() - at)) return damage(kShort);
    const std::string_view text(head->data() + at, static_cast<size_t>(*length));
    at += static_cast<uint64_t>(*length);
    if (index < 2 && text.back() != '\0') return damage("header string not terminated");
    const std::string_view value(text.data(), std::min(text.size(), text.find('\0')));
    if (auto v = valueAfter(value, "feature_count ")) features = *v;
    if (auto v = valueAfter(value, "mixture_count ")) densities = *v;
    if (auto v = valueAfter(value, "model_count ")) senones = *v;
    if (auto v = valueAfter(value, "cluster_count ")) clusters = *v;
    if (auto v = valueAfter(value, "cluster_bits ")) bits = *v;
  }
  int64_t rows = densities, columns = senones;
  if (clusters == 0) {
    const auto r = words.signedAt(at), c = words.signedAt(at + 4);
    if (!r || !c) return damage(kShort);
    rows = *r;
    columns = *c;
    at += 8;
  }
  if (features != gaussians.features || densities != gaussians.densities ||
      senones != definition.senones) {
    return damage("counts differ from the means' and the model definition's");
  }
  // The library sizes its tables by the means and the model definition but walks them by the
  // dump's own rows and columns: a disagreement is a read out of bounds.
  if (rows != densities || columns != senones) return damage("table size differs from its counts");
  if (clusters != 0 && clusters != 15 && clusters != 16) return damage("counts out of range");
  if (bits != 4 && bits != 8) return damage("counts out of range");
  const int64_t step = bits == 4 ? (columns + 1) / 2 : columns;
  const auto weights = product({features, rows, step});
  if (!weights) return damage("counts out of range");
  const uint64_t codebook = clusters == 15 ? 16 : static_cast<uint64_t>(clusters);
  // The library maps the file and reads what the counts say is there; more is harmless.
  if (file.size() < at + codebook + *weights) return damage(kShort);
  return {};
}

}  // namespace

Status checkSenoneDump(const std::string& path, const GaussianShape& gaussians,
                       const DefinitionShape& definition) {
  return inFile(path, senoneDumpIn(path, gaussians, definition));
}

}  // namespace mic::model_files
