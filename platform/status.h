// The one result type outside the record store: success, or what failed and why. A file failure
// also names the file and the host's error number, so a message can say which file and what the
// system said. The store keeps its own codes (DbCode); they cross into a Status with store_status.
//
// A Status must be looked at. Dropping one on purpose is written `std::ignore = call();` with a
// comment that says why the failure does not matter there.
#pragma once

#include <string>
#include <string_view>
#include <utility>

#include "platform/file_error.h"

namespace pennacle {

enum class StatusCode {
  Ok = 0,
  Invalid,      // the input is not what the operation takes (a bad row, an unknown option)
  NotFound,     // what was named is not there
  File,         // a file operation failed: path() and sys_errno() say which and why
  Corrupt,      // bytes that fail their own checks (a checksum, a length)
  Store,        // the record store refused: store_code() holds its code
  Unsupported,  // a form or feature this program does not handle
};

class [[nodiscard]] Status {
 public:
  Status() = default;  // success

  static Status invalid(std::string message) { return Status(StatusCode::Invalid, std::move(message)); }
  static Status not_found(std::string message) { return Status(StatusCode::NotFound, std::move(message)); }
  static Status corrupt(std::string message) { return Status(StatusCode::Corrupt, std::move(message)); }
  static Status unsupported(std::string message) {
    return Status(StatusCode::Unsupported, std::move(message));
  }
  // A failed file operation on `path` (as the user named it): `what` says what was being done
  // ("cannot read"). The error number is the one behind `cause` on this thread (last_file_errno),
  // or a representative one when the failure was not the host's (an injected fault).
  static Status file(FileCause cause, std::string path, std::string_view what);
  // The record store refused with `code` (its value, negative) and `message` (its text).
  static Status store(int code, std::string message);

  bool ok() const { return code_ == StatusCode::Ok; }
  explicit operator bool() const { return ok(); }
  StatusCode code() const { return code_; }
  // What failed, one line, for the user: for a file it begins with the path.
  const std::string& message() const { return message_; }
  const std::string& path() const { return path_; }
  int sys_errno() const { return errno_; }
  FileCause file_cause() const { return cause_; }
  int store_code() const { return store_code_; }

  // The same failure with `context` in front of its message ("data.kdb.imports: line 3: ...").
  Status with_context(std::string_view context) const;

 private:
  Status(StatusCode code, std::string message) : code_(code), message_(std::move(message)) {}

  StatusCode code_ = StatusCode::Ok;
  std::string message_;
  std::string path_;
  int errno_ = 0;
  FileCause cause_ = FileCause::None;
  int store_code_ = 0;
};

// A value or the failure that kept it from being made.
template <typename T>
class [[nodiscard]] Result {
 public:
  Result(T value) : value_(std::move(value)) {}            // NOLINT: a value converts implicitly, as a return
  Result(Status failure) : status_(std::move(failure)) {}  // NOLINT: so does a failure; REQUIRES: !ok()

  bool ok() const { return status_.ok(); }
  explicit operator bool() const { return ok(); }
  const Status& status() const { return status_; }
  // REQUIRES: ok().
  T& value() { return value_; }
  const T& value() const { return value_; }
  T& operator*() { return value_; }
  const T& operator*() const { return value_; }
  T* operator->() { return &value_; }
  const T* operator->() const { return &value_; }

 private:
  T value_{};
  Status status_;
};

}  // namespace pennacle
