#include "platform/file_error.h"

#include <cerrno>

namespace pennacle {
namespace {
thread_local int t_last_file_errno = 0;
}  // namespace

int last_file_errno() { return t_last_file_errno; }

FileCause file_cause_from_errno(int err, bool locking) {
  if (err != 0) t_last_file_errno = err;
  if (locking) {
    switch (err) {
      case EAGAIN:
      case EACCES:
      case EDEADLK:
        return FileCause::LockViolation;
      case ENOLCK:
      case EOPNOTSUPP:
        return FileCause::LockUnsupported;
      default:
        break;
    }
  }
  switch (err) {
    case 0:
      return FileCause::None;
    case ENOENT:
      return FileCause::NotFound;
    case ENOTDIR:
    case ENAMETOOLONG:
    case ELOOP:
    case EISDIR:
    case EILSEQ:  // a path that is not text in the program's charset
      return FileCause::BadPath;
    case EMFILE:
    case ENFILE:
      return FileCause::TooManyFiles;
    case EACCES:
    case EPERM:
    case EROFS:
    case ETXTBSY:
      return FileCause::AccessDenied;
    case EBADF:
      return FileCause::BadHandle;
    case ESPIPE:
    case EOVERFLOW:
    case EINVAL:
      return FileCause::BadSeek;
    case EIO:
    case ENXIO:
    case ENODEV:
      return FileCause::HardwareIo;
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
      return FileCause::DiskFull;
    default:
      return FileCause::Generic;
  }
}

}  // namespace pennacle
