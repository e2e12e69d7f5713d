// A file system that injects faults into another one, for tests of every write path.
#pragma once

#include <array>
#include <memory>
#include <mutex>

#include "platform/file.h"

namespace pennacle {

enum class FileOp { Open, Read, Write, Size, SetSize, Lock, Unlock, Sync, kCount };

// Counts calls by kind over every file opened through it. Two kinds of fault:
// - fail_nth: the n-th call of one kind (counted from the arming) fails with a cause, once;
// - crash_after_writes: after n more writes (write_at and set_size) succeed, every later write and
//   set_size does nothing and fails, as if the process had died; reads still see the real file.
// Thread-safe.
class FaultFileSystem final : public FileSystem {
 public:
  explicit FaultFileSystem(FileSystem& base) : base_(base) {}

  void fail_nth(FileOp op, int n, FileCause cause);
  void crash_after_writes(int n);
  // Clears the faults and the counters.
  void reset();
  int calls(FileOp op) const;
  bool crashed() const;

  FileCause open(std::string_view gbk_path, FileAccess access, FileShare share,
                 std::unique_ptr<File>* out) override;
  FileCause create(std::string_view gbk_path, std::unique_ptr<File>* out) override;
  FileCause remove(std::string_view gbk_path) override;
  FileCause rename(std::string_view gbk_from, std::string_view gbk_to) override;
  FileCause sync_directory_of(std::string_view gbk_path) override;

  // Called by the wrapped files: None to go ahead, or the cause to fail with.
  FileCause before(FileOp op);

 private:
  FileSystem& base_;
  mutable std::mutex mu_;
  std::array<int, static_cast<size_t>(FileOp::kCount)> calls_{};  // GUARDED_BY(mu_)
  FileOp fail_op_ = FileOp::kCount;                               // GUARDED_BY(mu_)
  int fail_at_ = 0;                                               // GUARDED_BY(mu_)
  FileCause fail_cause_ = FileCause::None;                        // GUARDED_BY(mu_)
  int writes_left_ = -1;                                          // -1: no crash armed        GUARDED_BY(mu_)
  bool crashed_ = false;                                          //                           GUARDED_BY(mu_)
};

}  // namespace pennacle
