#pragma once

#include <cstdint>
#include <string>

#include "platform/status.h"

namespace mic {

// A read-only, non-empty regular file no larger than a limit, read by offset without ever reading
// beyond what is there: for files the program reads but does not trust (model files, the word
// list). Failures carry only what is wrong; callers put the path in front.
class BoundedFile {
 public:
  // `tooLarge` is the reason given for a file over `largest` bytes.
  BoundedFile(const std::string& path, uint64_t largest, const char* tooLarge);
  ~BoundedFile();
  BoundedFile(const BoundedFile&) = delete;
  BoundedFile& operator=(const BoundedFile&) = delete;

  // Why the file cannot be read, if it cannot.
  const Status& status() const { return status_; }
  uint64_t size() const { return size_; }

  // Exactly `length` bytes at `offset`; beyond the end the file is "cut short".
  Result<std::string> read(uint64_t offset, uint64_t length) const;
  Result<std::string> readAll() const { return read(0, size_); }

 private:
  int fd_;
  uint64_t size_ = 0;
  Status status_;
};

}  // namespace mic
