#include "recognizer/pocketsphinx/model_definition.h"

#include <algorithm>
#include <string_view>

#include "recognizer/pocketsphinx/model_file_reader.h"

namespace mic::model_files {
namespace {

Result<DefinitionShape> checkBinaryDefinition(const File& file) {
  const Status counts = damage("counts out of range");
  // Byte-order mark, version, then the length of a text description to skip.
  const auto start = file.read(0, 12);
  if (!start) return start.status();
  const bool swap = start->substr(0, 4) != "BMDF";
  if (swap && start->substr(0, 4) != "FDMB") return damage("not a model definition");
  const Words head(*start, swap);
  const int32_t version = *head.signedAt(4);
  const int32_t description = *head.signedAt(8);
  if (version < 0 || version > 1) return damage("unknown version");
  if (description < 0) return counts;

  // Ten counts, then the base phone names (NUL-terminated) padded to four bytes.
  constexpr int kCounts = 10;
  const uint64_t countsAt = 12 + static_cast<uint64_t>(description);
  const auto countBytes = file.read(countsAt, 4 * kCounts);
  if (!countBytes) return countBytes.status();
  const Words countWords(*countBytes, swap);
  int32_t c[kCounts];
  for (int i = 0; i < kCounts; ++i) c[i] = *countWords.signedAt(4 * i);
  const int32_t basePhones = c[0], phones = c[1], emitStates = c[2], ciSenones = c[3],
                senones = c[4], sequences = c[6], treeNodes = c[8];
  // Base phone ids are one byte in the phone table.
  if (basePhones <= 0 || basePhones > 256 || phones < basePhones || emitStates < 0 ||
      ciSenones < 0 || senones < ciSenones || sequences <= 0 || treeNodes < 0) {
    return counts;
  }

  const uint64_t namesAt = countsAt + 4 * kCounts;
  constexpr uint64_t kLongestName = 64;
  const auto names = file.read(
      namesAt,
      std::min<uint64_t>(file.size() - std::min(file.size(), namesAt), basePhones * kLongestName));
  if (!names) return names.status();
  size_t end = 0;
  for (int32_t i = 0; i < basePhones; ++i) {
    end = names->find('\0', end);
    if (end == std::string::npos) return damage(kShort);
    ++end;
  }
  const uint64_t treeAt = namesAt + ((end + 3) & ~uint64_t{3});
  // Tree nodes are 8 bytes (two int16 and an int32), phones 12 (two int32 and four bytes).
  const auto tree = product({treeNodes, 8});
  const auto phoneTable = product({phones, 12});
  if (!tree || !phoneTable) return counts;
  const uint64_t sequenceSizeAt = treeAt + *tree + *phoneTable;
  const auto sizeBytes = file.read(sequenceSizeAt, 4);
  if (!sizeBytes) return sizeBytes.status();
  const int32_t sequenceSize = *Words(*sizeBytes, swap).signedAt(0);
  if (emitStates != 0 && product({sequences, emitStates}) != static_cast<uint64_t>(sequenceSize)) {
    return counts;
  }
  // Senone ids are 16-bit; a model with varying state counts stores one length byte a sequence.
  const auto sequenceBytes = product({sequenceSize, 2});
  if (!sequenceBytes) return counts;
  const uint64_t expected = sequenceSizeAt + 4 + *sequenceBytes +
                            (emitStates == 0 ? static_cast<uint64_t>(sequences) : 0);
  // The library reads whatever follows, so only a short file is damage.
  if (file.size() < expected) return damage(kShort);
  return DefinitionShape{basePhones, senones};
}

// The text form: "0.3", then counts as "<value> <name>" lines, '#' comments, then one line for
// each base phone and each triphone.
Result<DefinitionShape> checkTextDefinition(const File& file) {
  const auto bytes = file.readAll();
  if (!bytes) return bytes.status();
  if (bytes->back() != '\n') return damage("cut short in a line");
  std::string_view text(*bytes);
  int64_t base = -1, triphones = -1, senones = -1, lines = 0;
  bool first = true;
  while (!text.empty()) {
    const size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text.remove_prefix(end + 1);
    const size_t start = line.find_first_not_of(" \t\r");
    if (start == std::string_view::npos) continue;
    line.remove_prefix(start);
    if (first) {
      if (line.substr(0, 3) != "0.3") return damage("unknown version");
      first = false;
      continue;
    }
    if (line[0] == '#') continue;
    // A count line is "<value> <name>"; anything else is a phone.
    const size_t space = line.find_first_of(" \t");
    std::string_view name = space == std::string_view::npos ? "" : line.substr(space);
    name.remove_prefix(std::min(name.size(), name.find_first_not_of(" \t")));
    name = name.substr(0, name.find_first_of(" \t\r"));
    const int64_t value = *valueAfter(line, "");
    if (name == "n_base") {
      base = value;
    } else if (name == "n_tri") {
      triphones = value;
    } else if (name == "n_tied_state") {
      senones = value;
    } else if (name != "n_state_map" && name != "n_tied_ci_state" && name != "n_tied_tmat") {
      ++lines;
    }
  }
  if (base <= 0 || base > 256 || triphones < 0 || senones <= 0)
    return damage("counts out of range");
  if (lines != base + triphones) return damage("phone count does not match its phones");
  return DefinitionShape{static_cast<int32_t>(base), static_cast<int32_t>(senones)};
}

Result<DefinitionShape> modelDefinitionIn(const std::string& path) {
  const File file(path);
  const auto magic = file.read(0, std::min<uint64_t>(file.size(), 4));
  if (!magic) return magic.status();
  if (*magic == "BMDF" || *magic == "FDMB") return checkBinaryDefinition(file);
  if (magic->substr(0, 3) == "0.3") return checkTextDefinition(file);
  return damage("not a model definition");
}

}  // namespace

Result<DefinitionShape> checkModelDefinition(const std::string& path) {
  return inFile(path, modelDefinitionIn(path));
}

}  // namespace mic::model_files
