#include "platform/linux/pocketsphinx/model_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <bit>
#include <cerrno>
#include <cstring>
#include <optional>
#include <string_view>

namespace mic::model_files {
namespace {

constexpr uint32_t kByteOrderMagic = 0x11223344;
// Beyond this a model file is not one we can vouch for; also keeps every product below in range.
constexpr uint64_t kLargestFile = uint64_t{1} << 32;

// Failures here carry only the damage; the public checks put the file's path in front.
Status damage(std::string what) { return Status::failure(std::move(what)); }
const char* const kShort = "cut short";

// A read-only, non-empty regular file, read by offset.
class File {
 public:
  explicit File(const std::string& path) : fd_(::open(path.c_str(), O_RDONLY | O_CLOEXEC)) {
    struct stat st {};
    if (fd_ < 0) {
      status_ = damage(errno == ENOENT ? "missing" : std::strerror(errno));
    } else if (::fstat(fd_, &st) != 0) {
      status_ = damage(std::strerror(errno));
    } else if (!S_ISREG(st.st_mode)) {
      status_ = damage("not a regular file");
    } else if (static_cast<uint64_t>(st.st_size) > kLargestFile) {
      status_ = damage("larger than any model file");
    } else if (st.st_size == 0) {
      status_ = damage("empty");
    } else {
      size_ = static_cast<uint64_t>(st.st_size);
    }
  }
  ~File() {
    if (fd_ >= 0) ::close(fd_);
  }
  File(const File&) = delete;
  File& operator=(const File&) = delete;

  // Why the file cannot be read, if it cannot.
  const Status& status() const { return status_; }
  uint64_t size() const { return size_; }

  // Exactly `length` bytes at `offset`; beyond the end the file is cut short.
  Result<std::string> read(uint64_t offset, uint64_t length) const {
    if (!status_.ok()) return status_;
    if (offset > size_ || length > size_ - offset) return damage(kShort);
    std::string bytes(length, '\0');
    uint64_t done = 0;
    while (done < length) {
      const ssize_t n =
          ::pread(fd_, bytes.data() + done, length - done, static_cast<off_t>(offset + done));
      if (n < 0) return damage(std::strerror(errno));
      if (n == 0) return damage(kShort);
      done += static_cast<uint64_t>(n);
    }
    return bytes;
  }
  Result<std::string> readAll() const { return read(0, size_); }

 private:
  int fd_;
  uint64_t size_ = 0;
  Status status_;
};

// The same failure with the file's path in front.
template <typename T>
Result<T> inFile(const std::string& path, Result<T> result) {
  if (result) return result;
  return result.status().withContext(path);
}
Status inFile(const std::string& path, const Status& status) { return status.withContext(path); }

uint32_t swapped(uint32_t word) { return __builtin_bswap32(word); }

// Reads 32-bit words from a byte string in the file's byte order.
class Words {
 public:
  Words(std::string_view bytes, bool swap) : bytes_(bytes), swap_(swap) {}
  std::optional<uint32_t> at(uint64_t offset) const {
    if (offset > bytes_.size() || bytes_.size() - offset < 4) return std::nullopt;
    uint32_t word;
    std::memcpy(&word, bytes_.data() + offset, 4);
    return swap_ ? swapped(word) : word;
  }
  std::optional<int32_t> signedAt(uint64_t offset) const {
    auto word = at(offset);
    if (!word) return std::nullopt;
    return static_cast<int32_t>(*word);
  }

 private:
  std::string_view bytes_;
  bool swap_;
};

// a * b, unless it (or either factor) is negative or passes the largest file size.
std::optional<uint64_t> product(std::initializer_list<int64_t> factors) {
  uint64_t result = 1;
  for (int64_t f : factors) {
    if (f < 0) return std::nullopt;
    const auto factor = static_cast<uint64_t>(f);
    if (factor != 0 && result > kLargestFile / factor) return std::nullopt;
    result *= factor;
  }
  return result;
}

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

// "key value" strings of a senone dump header: the value as the library's atoi would see it.
std::optional<int64_t> valueAfter(std::string_view text, std::string_view key) {
  if (text.substr(0, key.size()) != key) return std::nullopt;
  text.remove_prefix(key.size());
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  bool negative = false;
  if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }
  int64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9' || value > 1'000'000'000) break;
    value = value * 10 + (c - '0');
  }
  return negative ? -value : value;
}

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

Result<DefinitionShape> modelDefinitionIn(const std::string& path) {
  const File file(path);
  const auto magic = file.read(0, std::min<uint64_t>(file.size(), 4));
  if (!magic) return magic.status();
  if (*magic == "BMDF" || *magic == "FDMB") return checkBinaryDefinition(file);
  if (magic->substr(0, 3) == "0.3") return checkTextDefinition(file);
  return damage("not a model definition");
}

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

// The trie model's vocabulary: its NUL-terminated words, as they end the file; "" for a model in
// another format.
Result<std::string> vocabularyIn(const std::string& path) {
  static constexpr std::string_view kTrieHeader = "Trie Language Model";
  const File file(path);
  const auto header = file.read(0, std::min<uint64_t>(file.size(), kTrieHeader.size() + 1));
  if (!header) return header.status();
  if (!std::string_view(*header).starts_with(kTrieHeader)) return std::string();
  if (header->size() <= kTrieHeader.size()) return damage(kShort);
  const auto order = static_cast<uint8_t>((*header)[kTrieHeader.size()]);
  if (order == 0) return damage("counts out of range");
  const uint64_t countsAt = kTrieHeader.size() + 1;
  const auto counts = file.read(countsAt, uint64_t{order} * 4);
  if (!counts) return counts.status();
  uint32_t words;
  std::memcpy(&words, counts->data(), 4);
  const uint64_t bodyStart = countsAt + uint64_t{order} * 4;
  if (words == 0) return damage("counts out of range");
  const Status cut = damage("cut short: fewer words than it counts");
  if (file.size() < bodyStart + 4 + 2ull * words) return cut;

  // Walk back from the end over `words` NUL-terminated words, in blocks so that only the
  // vocabulary (about 1 MB for en-us) is read.
  constexpr uint64_t kBlock = 1 << 20;
  std::string tail;  // the file's last tail.size() bytes
  uint64_t seen = 0;
  uint64_t scanned = 0;                     // bytes of `tail`, from its end, already counted
  size_t firstWordEnd = std::string::npos;  // index in `tail` of the first word's NUL
  while (firstWordEnd == std::string::npos) {
    if (tail.size() == file.size() - bodyStart) return cut;
    const uint64_t grow = std::min(kBlock, file.size() - bodyStart - tail.size());
    const auto block = file.read(file.size() - tail.size() - grow, grow);
    if (!block) return block.status();
    tail.insert(0, *block);
    if (tail.back() != '\0') return damage("cut short in a word");
    for (uint64_t i = tail.size() - scanned; i-- > 0;) {
      if (tail[i] == '\0' && ++seen == words) {
        firstWordEnd = i;
        break;
      }
    }
    scanned = tail.size();
  }
  // The first word starts somewhere before its NUL, right after the vocabulary's byte length:
  // make sure the bytes that can hold those are read too.
  constexpr size_t kLongestWord = 1024;
  if (firstWordEnd < kLongestWord + 4 && tail.size() < file.size() - bodyStart) {
    const uint64_t grow =
        std::min<uint64_t>(kLongestWord + 4, file.size() - bodyStart - tail.size());
    const auto block = file.read(file.size() - tail.size() - grow, grow);
    if (!block) return block.status();
    tail.insert(0, *block);
    firstWordEnd += grow;
  }
  for (size_t start = firstWordEnd; start >= 4 && firstWordEnd - start < kLongestWord; --start) {
    if (start < firstWordEnd && tail[start] == '\0') break;
    int32_t length;
    std::memcpy(&length, tail.data() + start - 4, 4);
    if (length > 0 && static_cast<uint64_t>(length) == tail.size() - start) {
      tail.erase(0, start);
      return tail;
    }
  }
  return damage("vocabulary length does not match its words");
}

Status textFileIn(const std::string& path) {
  // A heuristic: these are line-oriented text files the library reads to their end, so a cut in
  // the middle of a line is the usual sign of a short copy. A cut that falls just after a line
  // feed goes unnoticed.
  const File file(path);
  const auto last = file.read(file.size() - 1, 1);
  if (!last) return last.status();
  if (*last != "\n") return damage("cut short in a line");
  return {};
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

Result<DefinitionShape> checkModelDefinition(const std::string& path) {
  return inFile(path, modelDefinitionIn(path));
}

Status checkSenoneDump(const std::string& path, const GaussianShape& gaussians,
                       const DefinitionShape& definition) {
  return inFile(path, senoneDumpIn(path, gaussians, definition));
}

Status checkLanguageModel(const std::string& path) {
  return inFile(path, vocabularyIn(path)).status();
}

Result<std::string> languageModelVocabulary(const std::string& path) {
  return inFile(path, vocabularyIn(path));
}

Status checkTextFile(const std::string& path) { return inFile(path, textFileIn(path)); }

Result<std::string> fileContents(const std::string& path) {
  return inFile(path, File(path).readAll());
}

Status checkAcousticModel(const std::string& directory) {
  const std::string dir = directory + "/";
  const auto means = checkGaussians(dir + "means");
  if (!means) return means.status();
  const auto variances = checkGaussians(dir + "variances");
  if (!variances) return variances.status();
  // The library exits when the two disagree.
  if (!(*means == *variances)) {
    return Status::failure(dir + "variances: shape differs from the means'");
  }
  if (Status s = checkTransitionMatrices(dir + "transition_matrices"); !s.ok()) return s;
  const auto definition = checkModelDefinition(dir + "mdef");
  if (!definition) return definition.status();
  if (Status s = checkTextFile(dir + "feat.params"); !s.ok()) return s;
  if (Status s = checkTextFile(dir + "noisedict"); !s.ok()) return s;

  // Either table of mixture weights will do; whichever is there must be sound.
  struct stat st {};
  const bool hasDump = ::lstat((dir + "sendump").c_str(), &st) == 0;
  const bool hasWeights = ::lstat((dir + "mixture_weights").c_str(), &st) == 0;
  if (!hasDump && !hasWeights) return Status::failure(dir + "sendump: missing");
  if (hasDump) {
    if (Status s = checkSenoneDump(dir + "sendump", *means, *definition); !s.ok()) return s;
  }
  if (hasWeights) return checkMixtureWeights(dir + "mixture_weights", means->features);
  return {};
}

}  // namespace mic::model_files
