#include "platform/status.h"

#include <cerrno>
#include <cstring>

namespace pennacle {
namespace {

// An error number for a cause that did not come from the host.
int representative_errno(FileCause cause) {
  switch (cause) {
    case FileCause::None:
      return 0;
    case FileCause::NotFound:
      return ENOENT;
    case FileCause::BadPath:
      return ENOTDIR;
    case FileCause::TooManyFiles:
      return EMFILE;
    case FileCause::AccessDenied:
      return EACCES;
    case FileCause::BadHandle:
      return EBADF;
    case FileCause::BadSeek:
      return EINVAL;
    case FileCause::HardwareIo:
      return EIO;
    case FileCause::DiskFull:
      return ENOSPC;
    case FileCause::SharingViolation:
    case FileCause::LockViolation:
      return EAGAIN;
    case FileCause::LockUnsupported:
      return ENOLCK;
    case FileCause::EndOfFile:
      return ENODATA;
    default:
      return EIO;
  }
}

}  // namespace

Status Status::file(FileCause cause, std::string path, std::string_view what) {
  int err = last_file_errno();
  if (err == 0 || file_cause_from_errno(err) != cause) err = representative_errno(cause);
  std::string message = path;
  message.append(": ").append(what);
  if (err != 0) message.append(": ").append(std::strerror(err));
  Status s(StatusCode::File, std::move(message));
  s.path_ = std::move(path);
  s.errno_ = err;
  s.cause_ = cause;
  return s;
}

Status Status::store(int code, std::string message) {
  Status s(StatusCode::Store, std::move(message));
  s.store_code_ = code;
  return s;
}

Status Status::with_context(std::string_view context) const {
  Status s = *this;
  if (!ok()) s.message_ = std::string(context) + ": " + message_;
  return s;
}

}  // namespace pennacle
