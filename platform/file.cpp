#include "platform/file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <optional>

#include "platform/file_map.h"
#include "platform/gbk.h"
#include "platform/lease.h"

namespace pennacle {
namespace {

// Sharing modes between opens of one file, enforced with open-file-description locks on bytes no
// record lock reaches. Each open holds a shared lock on the bytes that say what it does and what it
// refuses; a new open first looks for a conflicting holder, under a short exclusive guard so that
// two opens cannot both pass the check.
//
//   byte            held (shared) by an open that        refused to a new open that
//   base + 0        reads (every open)                   denies read
//   base + 1        writes                               denies write
//   base + 2        denies read                          reads
//   base + 3        denies write                         writes
//   base + 8        (guard, exclusive while checking)
constexpr uint64_t kAccessRead = kShareLockBase + 0;
constexpr uint64_t kAccessWrite = kShareLockBase + 1;
constexpr uint64_t kDenyRead = kShareLockBase + 2;
constexpr uint64_t kDenyWrite = kShareLockBase + 3;
constexpr uint64_t kGuard = kShareLockBase + 8;

int ofd_lock(int fd, int cmd, short type, uint64_t offset, uint64_t length) {
  struct flock fl {};
  fl.l_type = type;
  fl.l_whence = SEEK_SET;
  fl.l_start = static_cast<off_t>(offset);
  fl.l_len = static_cast<off_t>(length);
  fl.l_pid = 0;
  for (;;) {
    if (fcntl(fd, cmd, &fl) == 0) return 0;
    if (errno != EINTR) return errno;
  }
}

// True when another open holds a lock on the byte (our own open's locks are not reported).
bool held_by_other(int fd, uint64_t byte) {
  struct flock fl {};
  fl.l_type = F_WRLCK;
  fl.l_whence = SEEK_SET;
  fl.l_start = static_cast<off_t>(byte);
  fl.l_len = 1;
  fl.l_pid = 0;
  if (fcntl(fd, F_OFD_GETLK, &fl) != 0) return false;
  return fl.l_type != F_UNLCK;
}

class PosixFile final : public File {
 public:
  PosixFile(int fd, bool writable, bool may_write) : fd_(fd), fd_writable_(writable), may_write_(may_write) {}
  ~PosixFile() override { close(); }

  FileCause read_at(uint64_t offset, void* buf, size_t n, size_t* got) override {
    *got = 0;
    if (fd_ < 0) return FileCause::BadHandle;
    if (offset > static_cast<uint64_t>(INT64_MAX) - n) return FileCause::BadSeek;
    auto* p = static_cast<char*>(buf);
    while (*got < n) {
      ssize_t r = pread(fd_, p + *got, n - *got, static_cast<off_t>(offset + *got));
      if (r < 0) {
        if (errno == EINTR) continue;
        return file_cause_from_errno(errno);
      }
      if (r == 0) break;
      *got += static_cast<size_t>(r);
    }
    return FileCause::None;
  }

  bool read_mapped(uint64_t offset, void* buf, size_t n) override { return map_.copy(fd_, offset, buf, n); }

  FileCause write_at(uint64_t offset, const void* buf, size_t n) override {
    if (fd_ < 0) return FileCause::BadHandle;
    if (!may_write_) return FileCause::AccessDenied;
    if (offset > static_cast<uint64_t>(INT64_MAX) - n) return FileCause::BadSeek;
    const auto* p = static_cast<const char*>(buf);
    size_t done = 0;
    while (done < n) {
      ssize_t r = pwrite(fd_, p + done, n - done, static_cast<off_t>(offset + done));
      if (r < 0) {
        if (errno == EINTR) continue;
        return file_cause_from_errno(errno);
      }
      if (r == 0) return FileCause::DiskFull;
      done += static_cast<size_t>(r);
    }
    return FileCause::None;
  }

  FileCause size(uint64_t* out) override {
    *out = 0;
    if (fd_ < 0) return FileCause::BadHandle;
    struct stat st {};
    if (fstat(fd_, &st) != 0) return file_cause_from_errno(errno);
    *out = static_cast<uint64_t>(st.st_size);
    return FileCause::None;
  }

  FileCause set_size(uint64_t length) override {
    if (fd_ < 0) return FileCause::BadHandle;
    if (!may_write_) return FileCause::AccessDenied;
    if (length > static_cast<uint64_t>(INT64_MAX)) return FileCause::BadSeek;
    for (;;) {
      if (ftruncate(fd_, static_cast<off_t>(length)) == 0) {
        map_.note_size(length);  // a cut through this open is never read from the mapping
        return FileCause::None;
      }
      if (errno != EINTR) return file_cause_from_errno(errno);
    }
  }

  FileCause lock(uint64_t offset, uint64_t length) override {
    if (fd_ < 0) return FileCause::BadHandle;
    if (length == 0 || offset > kShareLockBase || length > kShareLockBase - offset) return FileCause::BadSeek;
    // A descriptor opened for reading only can hold only shared locks; they still exclude writers.
    int err = ofd_lock(fd_, F_OFD_SETLK, fd_writable_ ? F_WRLCK : F_RDLCK, offset, length);
    return err ? file_cause_from_errno(err, true) : FileCause::None;
  }

  FileCause unlock(uint64_t offset, uint64_t length) override {
    if (fd_ < 0) return FileCause::BadHandle;
    if (length == 0 || offset > kShareLockBase || length > kShareLockBase - offset) return FileCause::BadSeek;
    int err = ofd_lock(fd_, F_OFD_SETLK, F_UNLCK, offset, length);
    return err ? file_cause_from_errno(err, true) : FileCause::None;
  }

  FileCause sync() override {
    if (fd_ < 0) return FileCause::BadHandle;
    for (;;) {
      if (fdatasync(fd_) == 0) return FileCause::None;
      if (errno != EINTR) return file_cause_from_errno(errno);
    }
  }

  void close() override {
    release_lease();
    map_.reset();
    if (fd_ >= 0) ::close(fd_);  // closing the description drops all of its locks
    fd_ = -1;
  }

  bool take_lease(std::function<void()> on_break) override {
    int signal = 0, tid = 0;
    if (fd_ < 0 || lease_token_ != 0 || !lease_watcher_ready(&signal, &tid)) return false;
    f_owner_ex owner{F_OWNER_TID, tid};
    if (fcntl(fd_, F_SETSIG, signal) != 0 || fcntl(fd_, F_SETOWN_EX, &owner) != 0) return false;
    // Watched before the lease exists, so a break that comes at once is not missed.
    const uint64_t token = watch_lease(fd_, std::move(on_break));
    if (fcntl(fd_, F_SETLEASE, F_WRLCK) != 0) {
      unwatch_lease(fd_, token);
      return false;
    }
    lease_token_ = token;
    return true;
  }

  // The watch goes with its own token, so a lease taken again meanwhile keeps its watch. The
  // unlock comes last: the open waiting on the lease goes on at that moment, and whoever made it
  // may close this file at once.
  void release_lease() override {
    const uint64_t token = lease_token_.exchange(0);
    if (token == 0) return;
    const int fd = fd_;
    unwatch_lease(fd, token);
    fcntl(fd, F_SETLEASE, F_UNLCK);
  }

  FileCause id(FileId* out) override {
    *out = {};
    if (fd_ < 0) return FileCause::BadHandle;
    struct stat st {};
    if (fstat(fd_, &st) != 0) return file_cause_from_errno(errno);
    *out = {static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)};
    return FileCause::None;
  }

 private:
  int fd_;
  bool fd_writable_;
  bool may_write_;
  std::atomic<uint64_t> lease_token_{0};  // 0: no lease
  FileMap map_;
};

// Paths travel as GBK and reach the kernel as UTF-8; one that GBK cannot decode is a bad path.
std::optional<std::string> utf8_from_gbk_path(std::string_view gbk_path) {
  if (gbk_path.empty() || gbk_path.find('\0') != std::string_view::npos) return std::nullopt;
  return gbk_to_utf8(gbk_path);
}

// 0 or the errno of the failed open; EILSEQ for a path that is not GBK text.
int open_descriptor(std::string_view gbk_path, int flags, int mode, int* fd) {
  *fd = -1;
  std::optional<std::string> path = utf8_from_gbk_path(gbk_path);
  if (!path) return EILSEQ;
  for (;;) {
    *fd = ::open(path->c_str(), flags | O_CLOEXEC, mode);
    if (*fd >= 0) return 0;
    if (errno != EINTR) return errno;
  }
}

class PosixFileSystem final : public FileSystem {
 public:
  FileCause open(std::string_view gbk_path, FileAccess access, FileShare share,
                 std::unique_ptr<File>* out) override {
    out->reset();
    int fd = -1;
    bool writable = true;
    int err = open_descriptor(gbk_path, O_RDWR, 0, &fd);
    if (err > 0 && file_cause_from_errno(err) == FileCause::AccessDenied && access == FileAccess::Read) {
      // Read access only needs a readable descriptor; a writable one is preferred because it can
      // hold exclusive locks.
      writable = false;
      err = open_descriptor(gbk_path, O_RDONLY, 0, &fd);
    }
    if (err != 0) return file_cause_from_errno(err);
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
      ::close(fd);
      return FileCause::AccessDenied;
    }
    const bool wants_write = access == FileAccess::ReadWrite;
    const bool denies_read = share == FileShare::DenyRead || share == FileShare::Exclusive;
    const bool denies_write = share == FileShare::DenyWrite || share == FileShare::Exclusive;

    const bool guarded = writable && ofd_lock(fd, F_OFD_SETLKW, F_WRLCK, kGuard, 1) == 0;
    bool conflict = held_by_other(fd, kDenyRead) || (wants_write && held_by_other(fd, kDenyWrite)) ||
                    (denies_read && held_by_other(fd, kAccessRead)) ||
                    (denies_write && held_by_other(fd, kAccessWrite));
    if (!conflict) {
      err = ofd_lock(fd, F_OFD_SETLK, F_RDLCK, kAccessRead, 1);
      if (!err && wants_write) err = ofd_lock(fd, F_OFD_SETLK, F_RDLCK, kAccessWrite, 1);
      if (!err && denies_read) err = ofd_lock(fd, F_OFD_SETLK, F_RDLCK, kDenyRead, 1);
      if (!err && denies_write) err = ofd_lock(fd, F_OFD_SETLK, F_RDLCK, kDenyWrite, 1);
    }
    if (guarded) ofd_lock(fd, F_OFD_SETLK, F_UNLCK, kGuard, 1);
    if (conflict || (err && file_cause_from_errno(err, true) == FileCause::LockViolation)) {
      ::close(fd);
      return FileCause::SharingViolation;
    }
    // A file system without locks cannot keep sharing modes; the open goes ahead as Windows would
    // on a share that ignores them.
    *out = std::make_unique<PosixFile>(fd, writable, wants_write);
    return FileCause::None;
  }

  FileCause create(std::string_view gbk_path, std::unique_ptr<File>* out) override {
    out->reset();
    int fd = -1;
    int err = open_descriptor(gbk_path, O_RDWR | O_CREAT | O_EXCL, 0644, &fd);
    if (err == EEXIST) return FileCause::AccessDenied;
    if (err != 0) return file_cause_from_errno(err);
    *out = std::make_unique<PosixFile>(fd, true, true);
    return FileCause::None;
  }

  FileCause remove(std::string_view gbk_path) override {
    std::optional<std::string> path = utf8_from_gbk_path(gbk_path);
    if (!path) return FileCause::BadPath;
    return ::unlink(path->c_str()) == 0 ? FileCause::None : file_cause_from_errno(errno);
  }

  FileCause rename(std::string_view gbk_from, std::string_view gbk_to) override {
    std::optional<std::string> from = utf8_from_gbk_path(gbk_from), to = utf8_from_gbk_path(gbk_to);
    if (!from || !to) return FileCause::BadPath;
    return ::rename(from->c_str(), to->c_str()) == 0 ? FileCause::None : file_cause_from_errno(errno);
  }

  FileCause id_of(std::string_view gbk_path, FileId* out) override {
    *out = {};
    std::optional<std::string> path = utf8_from_gbk_path(gbk_path);
    if (!path) return FileCause::BadPath;
    struct stat st {};
    if (::stat(path->c_str(), &st) != 0) return file_cause_from_errno(errno);
    *out = {static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)};
    return FileCause::None;
  }

  FileCause sync_directory_of(std::string_view gbk_path) override {
    std::optional<std::string> path = utf8_from_gbk_path(gbk_path);
    if (!path) return FileCause::BadPath;
    const size_t slash = path->rfind('/');
    const std::string dir = slash == std::string::npos ? "." : slash == 0 ? "/" : path->substr(0, slash);
    int fd = -1;
    for (;;) {
      fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
      if (fd >= 0) break;
      if (errno != EINTR) return file_cause_from_errno(errno);
    }
    FileCause c = FileCause::None;
    while (fsync(fd) != 0) {
      if (errno == EINTR) continue;
      // A file system that cannot sync a directory (EINVAL) keeps its entries as it keeps them.
      if (errno != EINVAL) c = file_cause_from_errno(errno);
      break;
    }
    ::close(fd);
    return c;
  }
};

}  // namespace

FileSystem& posix_file_system() {
  static PosixFileSystem fs;
  return fs;
}

}  // namespace pennacle
