#include "platform/linux/pocketsphinx/model_file_reader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace mic::model_files {

File::File(const std::string& path) : fd_(::open(path.c_str(), O_RDONLY | O_CLOEXEC)) {
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

File::~File() {
  if (fd_ >= 0) ::close(fd_);
}

Result<std::string> File::read(uint64_t offset, uint64_t length) const {
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

Result<std::string> fileContents(const std::string& path) {
  return inFile(path, File(path).readAll());
}

}  // namespace mic::model_files
