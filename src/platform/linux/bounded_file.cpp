#include "platform/linux/bounded_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace mic {

BoundedFile::BoundedFile(const std::string& path, uint64_t largest, const char* tooLarge)
    : fd_(::open(path.c_str(), O_RDONLY | O_CLOEXEC)) {
  struct stat st {};
  if (fd_ < 0) {
    status_ = Status::failure(errno == ENOENT ? "missing" : std::strerror(errno));
  } else if (::fstat(fd_, &st) != 0) {
    status_ = Status::failure(std::strerror(errno));
  } else if (!S_ISREG(st.st_mode)) {
    status_ = Status::failure("not a regular file");
  } else if (static_cast<uint64_t>(st.st_size) > largest) {
    status_ = Status::failure(tooLarge);
  } else if (st.st_size == 0) {
    status_ = Status::failure("empty");
  } else {
    size_ = static_cast<uint64_t>(st.st_size);
  }
}

BoundedFile::~BoundedFile() {
  if (fd_ >= 0) ::close(fd_);
}

Result<std::string> BoundedFile::read(uint64_t offset, uint64_t length) const {
  if (!status_.ok()) return status_;
  if (offset > size_ || length > size_ - offset) return Status::failure("cut short");
  std::string bytes(length, '\0');
  uint64_t done = 0;
  while (done < length) {
    const ssize_t n =
        ::pread(fd_, bytes.data() + done, length - done, static_cast<off_t>(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return Status::failure(std::strerror(errno));
    if (n == 0) return Status::failure("cut short");
    done += static_cast<uint64_t>(n);
  }
  return bytes;
}

}  // namespace mic
