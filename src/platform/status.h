#pragma once

#include <optional>
#include <string>
#include <utility>

namespace mic {

// How every seam reports its outcome (the audio engine's start on both platforms, everything below
// the Linux backend's interfaces): success, or a failure that carries the
// sentence saying why. The sentence is the platform's description of the failure and ends up,
// unchanged, in an "error" line, so it is never dropped on the way up.
class [[nodiscard]] Status {
 public:
  // Success.
  Status() = default;
  static Status failure(std::string message) { return Status(std::move(message)); }

  bool ok() const { return !message_.has_value(); }
  // The reason; empty on success.
  const std::string& message() const {
    static const std::string kNone;
    return message_ ? *message_ : kNone;
  }
  // The same failure with `context` in front ("speech model could not be loaded: ...").
  Status withContext(const std::string& context) const {
    return ok() ? *this : failure(context + ": " + *message_);
  }

 private:
  explicit Status(std::string message) : message_(std::move(message)) {}
  std::optional<std::string> message_;
};

// A value, or the failed Status that explains why there is none.
template <typename T>
class [[nodiscard]] Result {
 public:
  Result(T value) : value_(std::move(value)) {}  // NOLINT: a value converts implicitly
  // `failed` must be a failure: a Result holds a value or a reason, never neither.
  Result(Status failed)  // NOLINT: a failure converts implicitly
      : status_(failed.ok() ? Status::failure("no value and no reason given") : std::move(failed)) {
  }

  bool ok() const { return value_.has_value(); }
  explicit operator bool() const { return ok(); }
  const Status& status() const { return status_; }

  T& value() & { return *value_; }
  const T& value() const& { return *value_; }
  T&& value() && { return std::move(*value_); }
  T* operator->() { return &*value_; }
  const T* operator->() const { return &*value_; }
  T& operator*() & { return *value_; }
  const T& operator*() const& { return *value_; }
  T&& operator*() && { return std::move(*value_); }

 private:
  std::optional<T> value_;
  Status status_;
};

}  // namespace mic
