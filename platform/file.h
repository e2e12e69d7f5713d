// Files with byte-range locks and sharing modes: the one interface the record store writes through,
// so tests can put a fault-injecting layer in its place.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "platform/file_error.h"

namespace pennacle {

enum class FileAccess { Read, ReadWrite };

// What other opens of the same file (other processes, or this one) may do while this one is open.
enum class FileShare { DenyNone, DenyRead, DenyWrite, Exclusive };

// Which file an open or a path reaches: two paths to one file give the same id.
struct FileId {
  uint64_t device = 0;
  uint64_t inode = 0;
  bool operator==(const FileId&) const = default;
};

// Every range handed to lock/unlock lies below this offset; the bytes at and above it are reserved
// for the sharing-mode protocol.
inline constexpr uint64_t kShareLockBase = 0x80000000u;

// One open file. Positions are absolute; no call moves a shared file pointer, so calls from
// different threads never disturb each other. Every call returns FileCause::None on success.
class File {
 public:
  virtual ~File() = default;

  // Reads up to `n` bytes at `offset`; `*got` is the count read, short only at the end of the file.
  [[nodiscard]] virtual FileCause read_at(uint64_t offset, void* buf, size_t n, size_t* got) = 0;
  // All `n` bytes at `offset` without a system call, from a mapping of the file (platform/file_map.h),
  // when the file has one and the bytes lie within the file; false otherwise, and the caller reads
  // with read_at. Bytes past a point where another open cut the file shorter read as zeros up to
  // the end of its last page: a caller that must tell checks a bound of its own first.
  [[nodiscard]] virtual bool read_mapped(uint64_t offset, void* buf, size_t n) {
    (void)offset, (void)buf, (void)n;
    return false;
  }
  // Writes all `n` bytes at `offset`, extending the file when needed.
  [[nodiscard]] virtual FileCause write_at(uint64_t offset, const void* buf, size_t n) = 0;
  [[nodiscard]] virtual FileCause size(uint64_t* out) = 0;
  // Cuts or extends (with zeros) the file to exactly `length` bytes.
  [[nodiscard]] virtual FileCause set_size(uint64_t length) = 0;
  // An exclusive lock on [offset, offset + length) that never waits: a range held by another open
  // gives LockViolation. Locks belong to this open, not to the process or thread. A range reaching
  // past kShareLockBase (where the sharing modes keep their locks) gives BadSeek.
  [[nodiscard]] virtual FileCause lock(uint64_t offset, uint64_t length) = 0;
  [[nodiscard]] virtual FileCause unlock(uint64_t offset, uint64_t length) = 0;
  // Returns once every write made through any open of this file is on the disk, the length
  // included (fdatasync). A barrier: no later write can reach the disk before the earlier ones.
  [[nodiscard]] virtual FileCause sync() = 0;
  // Releases every lock, the lease and the descriptor. Later calls give BadHandle.
  virtual void close() = 0;

  // A sole-opener lease: granted only while no other open of this file exists, in this process or
  // another. While it is held, another open of the file waits until the holder gives the lease up;
  // `on_break` is then called on a thread of its own and must see to that soon (release_lease).
  // False, and nothing changes, where a lease cannot be had: another open exists, the file belongs
  // to another user, or the file system has no leases.
  [[nodiscard]] virtual bool take_lease(std::function<void()> on_break) {
    (void)on_break;
    return false;
  }
  virtual void release_lease() {}
  [[nodiscard]] virtual FileCause id(FileId* out) {
    *out = {};
    return FileCause::Generic;
  }
};

// Opens files. Paths are GBK, as everywhere inside the program.
class FileSystem {
 public:
  virtual ~FileSystem() = default;
  // Opens an existing file; never creates one. A sharing conflict gives SharingViolation.
  [[nodiscard]] virtual FileCause open(std::string_view gbk_path, FileAccess access, FileShare share,
                                       std::unique_ptr<File>* out) = 0;
  // Creates a new file for writing, exclusive; an existing file gives AccessDenied and is untouched.
  [[nodiscard]] virtual FileCause create(std::string_view gbk_path, std::unique_ptr<File>* out) = 0;
  // Removes a file (to undo a create that could not be finished).
  virtual FileCause remove(std::string_view gbk_path) = 0;
  // Replaces `to` with `from` in one step; both lie in one directory or file system.
  [[nodiscard]] virtual FileCause rename(std::string_view gbk_from, std::string_view gbk_to) = 0;
  // Makes the directory entries of the folder holding `gbk_path` durable: a file created, renamed
  // or removed there survives a power cut only after this.
  [[nodiscard]] virtual FileCause sync_directory_of(std::string_view gbk_path) = 0;
  // The id of the file a path names, without opening it.
  [[nodiscard]] virtual FileCause id_of(std::string_view gbk_path, FileId* out) {
    (void)gbk_path;
    *out = {};
    return FileCause::Generic;
  }
};

// The real file system: POSIX descriptors with open-file-description locks.
FileSystem& posix_file_system();

}  // namespace pennacle
