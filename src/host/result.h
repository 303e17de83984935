// How failures travel: a Status is success or a failure with its reason, in
// words an administrator understands; a Result<T> is a value or such a
// failure. The Windows host puts the system's own error text in the reason,
// so an entry that says "could not be installed" also says why.
#pragma once

#include <optional>
#include <string>
#include <utility>

namespace kalmora {

class [[nodiscard]] Status {
 public:
  Status() = default;  // success
  static Status Failure(std::string reason) {
    Status s;
    s.failed_ = true;
    s.reason_ = std::move(reason);
    return s;
  }
  bool ok() const { return !failed_; }
  explicit operator bool() const { return ok(); }
  // Empty on success.
  const std::string& reason() const { return reason_; }

 private:
  bool failed_ = false;
  std::string reason_;
};

template <class T>
class [[nodiscard]] Result {
 public:
  Result(T value) : value_(std::move(value)) {}          // NOLINT: a value converts
  Result(Status failure) : reason_(failure.reason()) {}  // NOLINT: so does a failure
  static Result Failure(std::string reason) { return Result(Status::Failure(std::move(reason))); }

  bool ok() const { return value_.has_value(); }
  explicit operator bool() const { return ok(); }
  const T& operator*() const { return *value_; }
  T& operator*() { return *value_; }
  const T* operator->() const { return &*value_; }
  const std::string& reason() const { return reason_; }
  Status status() const { return ok() ? Status() : Status::Failure(reason_); }

 private:
  std::optional<T> value_;
  std::string reason_;
};

}  // namespace kalmora
