// Error values shared by every layer: a domain, a code and a readable, localized description.
//
// Operations that can fail return `Status` (nothing on success) or `Result<T>` (a value on success). Neither ever
// throws. An error keeps the form it was made in while it crosses layers: callers pass it on unchanged or turn it
// into text for the user with `localizedDescription()`.
#pragma once

#include <cassert>
#include <optional>
#include <string>
#include <utility>
#include <variant>

namespace platform {

// Domain of errors that carry a POSIX `errno` value as their code (file and process operations).
inline constexpr const char* kPosixErrorDomain = "NSPOSIXErrorDomain";

class Error {
 public:
  Error(std::string domain, int code, std::string localizedDescription)
      : domain_(std::move(domain)), code_(code), description_(std::move(localizedDescription)) {}

  const std::string& domain() const { return domain_; }
  int code() const { return code_; }
  // The text shown to the user. Never empty for errors made by this layer.
  const std::string& localizedDescription() const { return description_; }

  friend bool operator==(const Error&, const Error&) = default;

 private:
  std::string domain_;
  int code_;
  std::string description_;
};

// Makes a POSIX-domain error for a failed operation. `what` names the operation and its subject, with paths,
// for example "无法删除“/a/b”"; the description then adds the system's reason for `errnoValue`.
Error posixError(int errnoValue, const std::string& what);

// The system's reason for an errno value, in the user's language where this layer knows a wording.
std::string describeErrno(int errnoValue);

// Outcome of an operation that yields nothing on success.
class [[nodiscard]] Status {
 public:
  Status() = default;
  Status(Error error) : error_(std::move(error)) {}  // NOLINT: implicit so `return posixError(...)` reads well
  static Status success() { return Status(); }

  bool ok() const { return !error_.has_value(); }
  explicit operator bool() const { return ok(); }
  const Error& error() const {
    assert(error_);
    return *error_;
  }

 private:
  std::optional<Error> error_;
};

// Outcome of an operation that yields a value on success.
template <class T>
class [[nodiscard]] Result {
 public:
  Result(T value) : state_(std::move(value)) {}      // NOLINT: implicit by design
  Result(Error error) : state_(std::move(error)) {}  // NOLINT: implicit by design

  bool ok() const { return std::holds_alternative<T>(state_); }
  explicit operator bool() const { return ok(); }
  const T& value() const& { return std::get<T>(state_); }
  T&& value() && { return std::get<T>(std::move(state_)); }
  const Error& error() const { return std::get<Error>(state_); }

 private:
  std::variant<T, Error> state_;
};

}  // namespace platform
