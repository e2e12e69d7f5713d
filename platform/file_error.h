// Why a file operation failed: the causes a file object reports, whatever the host's error numbers.
#pragma once

#include <cstdint>

namespace pennacle {

// The causes a file object can report (the record store gives each its code: db_code_of).
enum class FileCause : int32_t {
  None = 0,
  Generic,           // any failure not listed below
  NotFound,          // no such file
  BadPath,           // a malformed path, a directory component that is not a directory
  TooManyFiles,      // out of descriptors
  AccessDenied,      // permissions, a read-only file system, a write on a read-only open
  BadHandle,         // the file is not open
  RemoveCurrentDir,  // removing the current directory
  DirectoryFull,     // no room for another directory entry
  BadSeek,           // a position the file cannot take
  HardwareIo,        // the device failed
  SharingViolation,  // another open's sharing mode refuses this one
  LockViolation,     // a byte range is locked by another open
  DiskFull,          // no space left, or over quota
  EndOfFile,         // read past the end where the caller needed the bytes
  LockUnsupported,   // the file system cannot lock; callers treat this as locked
};

// The cause behind an errno value. `locking` is set for results of lock and unlock calls, where
// EAGAIN/EACCES mean a conflicting lock rather than denied access.
// Also remembers `err` as this thread's last file error number when it is not 0.
FileCause file_cause_from_errno(int err, bool locking = false);
// The error number of the last failure mapped on this thread (0 when none was).
int last_file_errno();

}  // namespace pennacle
