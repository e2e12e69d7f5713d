#include "platform/file_error.h"

#include <cerrno>

namespace pennacle {

FileCause file_cause_from_errno(int err, bool locking) {
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

int32_t file_cause_code(FileCause cause) {
  switch (cause) {
    case FileCause::None:
    case FileCause::LockUnsupported:
      return 0;
    case FileCause::Generic:
      return -1;
    case FileCause::NotFound:
      return -3;
    case FileCause::BadPath:
      return -4;
    case FileCause::TooManyFiles:
      return -5;
    case FileCause::AccessDenied:
      return -6;
    case FileCause::BadHandle:
      return -7;
    case FileCause::RemoveCurrentDir:
      return -8;
    case FileCause::DirectoryFull:
      return -9;
    case FileCause::BadSeek:
      return -10;
    case FileCause::HardwareIo:
      return -11;
    case FileCause::SharingViolation:
      return -12;
    case FileCause::LockViolation:
      return -13;
    case FileCause::DiskFull:
      return -14;
    case FileCause::EndOfFile:
      return -15;
  }
  return -1;
}

}  // namespace pennacle
