#pragma once

#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "platform/linux/bounded_file.h"
#include "platform/status.h"

// Reading a model file without trusting it: the library believes the counts in a file's header and
// reads past the end of a damaged one, so the checks of each format read through these, which
// never read beyond what is there and never let a count overflow a size.
namespace mic::model_files {

// Beyond this a model file is not one we can vouch for; also keeps every product below in range.
inline constexpr uint64_t kLargestFile = uint64_t{1} << 32;

// Failures of the format checks carry only the damage; their public entry points put the file's
// path in front (inFile).
inline Status damage(std::string what) { return Status::failure(std::move(what)); }
inline constexpr const char* kShort = "cut short";

// A model file, read by offset within what is there.
class File : public BoundedFile {
 public:
  explicit File(const std::string& path)
      : BoundedFile(path, kLargestFile, "larger than any model file") {}
};

// The same failure with the file's path in front.
template <typename T>
Result<T> inFile(const std::string& path, Result<T> result) {
  if (result) return result;
  return result.status().withContext(path);
}
inline Status inFile(const std::string& path, const Status& status) {
  return status.withContext(path);
}

inline uint32_t swapped(uint32_t word) { return __builtin_bswap32(word); }

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
std::optional<uint64_t> product(std::initializer_list<int64_t> factors);

// The number after `key` at the start of `text`, as the library's atoi would see it.
std::optional<int64_t> valueAfter(std::string_view text, std::string_view key);

// The whole of a model file, read as the checks read it (a failure names the file).
Result<std::string> fileContents(const std::string& path);

}  // namespace mic::model_files
