// A record file or auxiliary file as the store uses it. While this process is the file's only
// opener (it holds a lease, so no other process can open the file, let alone lock or write it),
// locks need not reach the platform and bytes once read cannot change behind the store's back:
// lock and unlock only note the range, and reads shorter than a page are served from pages already
// read. The store's own writes go to the file at once and into those pages, so they stay what the
// file holds.
//
// Leaving the mode can happen at any moment, also in the middle of an operation on another thread
// (another process is waiting to open the file): every range held is then taken at the platform
// before leave_alone returns, the pages are dropped, and the operation goes on with every call
// reaching the file. So the other process sees exactly the locks it would have seen without the
// mode, and nothing it reads was ever only in this process's pages.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <vector>

#include "platform/file.h"
#include "platform/mutex.h"

namespace pennacle {

class SoleFile final : public File {
 public:
  static constexpr uint64_t kPageSize = 64 * 1024;
  // Pages kept at most; the oldest loaded goes first, so a walk longer than this streams.
  static constexpr size_t kMaxPages = 64;  // 4 MiB

  explicit SoleFile(std::unique_ptr<File> base) : base_(std::move(base)) {}

  // Enters the mode. The caller holds the file's lease and no lock on the file. False when the
  // file's length cannot be had.
  [[nodiscard]] bool enter_alone() EXCLUDES(mu_);
  // Leaves the mode: takes at the platform every range locked meanwhile, drops the pages. The
  // first range the platform refuses is returned (no other open can hold one while the lease
  // is held, so a refusal means the file system lost its locks); None otherwise.
  FileCause leave_alone() EXCLUDES(mu_);
  bool alone() const EXCLUDES(mu_);
  // Pages held now (for tests and the memory figures of the benchmarks).
  size_t pages() const EXCLUDES(mu_);

  FileCause read_at(uint64_t offset, void* buf, size_t n, size_t* got) override EXCLUDES(mu_);
  // The base file's mapping, only while not alone: alone, the pages serve.
  bool read_mapped(uint64_t offset, void* buf, size_t n) override EXCLUDES(mu_);
  FileCause write_at(uint64_t offset, const void* buf, size_t n) override EXCLUDES(mu_);
  FileCause size(uint64_t* out) override EXCLUDES(mu_);
  FileCause set_size(uint64_t length) override EXCLUDES(mu_);
  FileCause lock(uint64_t offset, uint64_t length) override EXCLUDES(mu_);
  FileCause unlock(uint64_t offset, uint64_t length) override EXCLUDES(mu_);
  FileCause sync() override { return base_->sync(); }
  void close() override EXCLUDES(mu_);
  bool take_lease(std::function<void()> on_break) override { return base_->take_lease(std::move(on_break)); }
  void release_lease() override { base_->release_lease(); }
  FileCause id(FileId* out) override { return base_->id(out); }

  class Pinned;

 private:
  // read_at while alone, with mu_ held.
  FileCause read_pages(uint64_t offset, void* buf, size_t n, size_t* got) REQUIRES(mu_);

  struct Range {
    uint64_t offset, length;
  };
  // The page holding `index`, read from the file when it is not held; nullptr on a read failure
  // (its cause in `*cause`) or when no memory is left for a page (`*cause` None).
  uint8_t* page(uint64_t index, FileCause* cause) REQUIRES(mu_);
  void drop_pages() REQUIRES(mu_);
  // After a failed write: what the file holds is read again.
  void reread() REQUIRES(mu_);
  void patch_pages(uint64_t offset, const uint8_t* bytes, size_t n) REQUIRES(mu_);

  const std::unique_ptr<File> base_;
  // A blocking mutex, not a spin lock: a hold may span a system call (a page read, a lock taken at
  // the platform on leaving) or, through Pinned, a whole operation.
  mutable Mutex mu_;
  bool alone_ GUARDED_BY(mu_) = false;
  uint64_t size_ GUARDED_BY(mu_) = 0;        // the file's length while alone
  std::vector<Range> held_ GUARDED_BY(mu_);  // ranges locked while alone, in the order taken
  std::vector<std::unique_ptr<uint8_t[]>> pages_ GUARDED_BY(mu_);  // by page index; null when not held
  std::deque<uint64_t> loaded_ GUARDED_BY(mu_);                    // indexes of held pages, oldest first
};

// A hold on a SoleFile for one operation that only reads: while it lives the mode cannot be left
// (a break waits for it), so while the file is alone no other process can open it, let alone lock
// or write it. Reads then come from the pages, and lock and unlock have nothing to guard against:
// they do nothing, and the operation needs no other lock. When the file is not alone, alone() is
// false and the caller runs the full protocol through the SoleFile itself, after the hold is gone.
class SCOPED_CAPABILITY SoleFile::Pinned final : public File {
 public:
  explicit Pinned(SoleFile& f) ACQUIRE(f.mu_) : f_(f) { f_.mu_.lock(); }
  ~Pinned() override RELEASE() { f_.mu_.unlock(); }
  Pinned(const Pinned&) = delete;
  Pinned& operator=(const Pinned&) = delete;

  // The analysis cannot see that the hold's lifetime is the mutex's.
  bool alone() const NO_THREAD_SAFETY_ANALYSIS { return f_.alone_; }
  FileCause read_at(uint64_t offset, void* buf, size_t n, size_t* got) override NO_THREAD_SAFETY_ANALYSIS {
    return f_.alone_ ? f_.read_pages(offset, buf, n, got) : FileCause::BadHandle;
  }
  FileCause size(uint64_t* out) override NO_THREAD_SAFETY_ANALYSIS {
    if (!f_.alone_) return FileCause::BadHandle;
    *out = f_.size_;
    return FileCause::None;
  }
  FileCause lock(uint64_t, uint64_t) override { return FileCause::None; }
  FileCause unlock(uint64_t, uint64_t) override { return FileCause::None; }
  // A read-only hold.
  FileCause write_at(uint64_t, const void*, size_t) override { return FileCause::AccessDenied; }
  FileCause set_size(uint64_t) override { return FileCause::AccessDenied; }
  FileCause sync() override { return FileCause::None; }
  void close() override {}

 private:
  SoleFile& f_;
};

}  // namespace pennacle
