// The sole-opener mode of one open database: while no other process has its files open, the store
// makes no platform lock call on them and reads bytes it has read before (store/sole_file.h). A
// lease on each file proves the process is alone: another process's open waits until the lease is
// given up, and the lease watcher's thread is told at once.
//
//   event                                   what happens
//   an operation starts, mode not held      take both leases (at most ten tries a second), enter
//   another process opens either file       the watcher thread leaves the mode at once, also in
//                                           the middle of an operation: every lock held
//                                           logically is taken at the platform, the cached
//                                           pages go, the leases are given up; only then does
//                                           the other open go on, and it meets the same locks
//                                           and codes it would have met without the mode
//   this process opens either file again    the store leaves the mode first (an open of its
//   (another path to it)                    own leased file would otherwise wait on itself)
//   the database closes                     the mode is left, the leases given up
//
// The break is answered within one file call of an operation in progress (or one field read made
// under a hold, SoleFile::Pinned), never after the whole operation, so a long purge does not make
// the other process wait, nor outlast the kernel's lease-break time. Where leases cannot be had
// (another user's file, a file system without leases, leases disabled, or the full protocol
// forced), the mode is never entered.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "platform/file.h"
#include "platform/mutex.h"
#include "store/sole_file.h"

namespace pennacle {

class SoleMode : public std::enable_shared_from_this<SoleMode> {
 public:
  // `aux` is nullptr when the table has no auxiliary file. Both outlive the mode until detach().
  SoleMode(SoleFile* main, SoleFile* aux);

  // At the start of an operation: enters the mode when the leases can be had. A failed try is
  // not repeated for a tenth of a second. REQUIRES: no lock held on either file.
  void maybe_enter() EXCLUDES(mu_);
  // Leaves the mode (idempotent). Safe from any thread at any moment.
  void leave() EXCLUDES(mu_);
  // Leaves the mode for good; the files are about to close.
  void detach() EXCLUDES(mu_);
  bool alone() const { return alone_hint_.load(std::memory_order_relaxed); }
  // Whether `id` is one of this database's files.
  bool holds_file(const FileId& id) const { return id == main_id_ || (has_aux_ && id == aux_id_); }

  // The process-wide switch; false forces the full protocol everywhere (tests and benchmarks).
  // It starts false when PENNACLE_STORE_FULL_PROTOCOL is set to 1.
  static void allow(bool allowed);
  static bool allowed();

 private:
  bool try_enter() REQUIRES(mu_);
  void leave_locked() REQUIRES(mu_);

  Mutex mu_;
  SoleFile* main_ GUARDED_BY(mu_);
  SoleFile* aux_ GUARDED_BY(mu_);
  bool alone_ GUARDED_BY(mu_) = false;
  bool detached_ GUARDED_BY(mu_) = false;
  uint32_t next_try_ms_ GUARDED_BY(mu_) = 0;
  std::atomic<bool> alone_hint_{false};
  FileId main_id_, aux_id_;
  bool has_aux_;
};

}  // namespace pennacle
