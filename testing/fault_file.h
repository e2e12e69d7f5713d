// A file system that injects faults into another one, for tests of every write path.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/file.h"
#include "platform/mutex.h"

namespace pennacle {

enum class FileOp { Open, Read, Write, Size, SetSize, Lock, Unlock, Sync, Count };

// What a simulated power cut keeps of the writes that were not synced.
enum class CutKeeps { Nothing, Everything, RandomSectors };

// Counts calls by kind over every file opened through it. Three kinds of fault, and a pause:
// - fail_nth: the n-th call of one kind (counted from the arming) fails with a cause, once;
// - crash_after_writes: after n more writes (write_at, set_size and syncs, file or directory)
//   succeed, every later one does nothing and fails, as if the process had died or the power gone
//   just then; reads still see the file;
// - power cuts: every file opened or created through it has a model of what the disk holds: its
//   bytes as of its last sync and the writes made since, in order. apply_power_cut rewrites the
//   real files as a cut would leave them (after crash_after_writes has stopped the writer);
// - pause_nth: the n-th call of one kind waits inside until resume(), so a test can act while an
//   operation stands still at a chosen point (holding its locks).
// Thread-safe.
class FaultFileSystem final : public FileSystem {
 public:
  static constexpr uint64_t kSectorSize = 512;

  explicit FaultFileSystem(FileSystem& base) : base_(base) {}

  void fail_nth(FileOp op, int n, FileCause cause);
  void crash_after_writes(int n);
  // Clears the faults and the counters (the models stay).
  void reset();
  int calls(FileOp op) const;
  bool crashed() const;

  void pause_nth(FileOp op, int n);
  // True once a paused call waits; false when none does within `limit`.
  bool wait_until_paused(std::chrono::milliseconds limit);
  void resume();

  // Writes every modelled file as a power cut now would leave it: its synced bytes, then each
  // unsynced write split at sector boundaries, every piece kept or lost as `keeps` says (seeded for
  // RandomSectors), and each set_size kept or lost whole. A file whose directory entry was never
  // synced survives only when the cut keeps it. The models stay, so another cut can be applied.
  void apply_power_cut(CutKeeps keeps, uint32_t seed);
  // Writes and set_size calls not yet made durable by a sync, over every modelled file.
  size_t unsynced_writes() const;

  FileCause open(std::string_view gbk_path, FileAccess access, FileShare share,
                 std::unique_ptr<File>* out) override;
  FileCause create(std::string_view gbk_path, std::unique_ptr<File>* out) override;
  FileCause remove(std::string_view gbk_path) override;
  FileCause rename(std::string_view gbk_from, std::string_view gbk_to) override;
  FileCause sync_directory_of(std::string_view gbk_path) override;
  FileCause id_of(std::string_view gbk_path, FileId* out) override;

  // Called by the wrapped files: None to go ahead, or the cause to fail with.
  FileCause before(FileOp op);
  // Called by the wrapped files after a write or set_size went through, and after a sync.
  void wrote(const std::string& path, uint64_t offset, const void* buf, size_t n);
  void resized(const std::string& path, uint64_t length);
  void synced(const std::string& path);

 private:
  struct Change {
    bool resize = false;
    uint64_t offset = 0;  // the new length for a resize
    std::string bytes;
  };
  struct Model {
    std::string durable;  // the bytes as of the last sync
    std::vector<Change> pending;
    bool entry_durable = true;  // the directory entry survives a cut
    // While the entry is not durable, a cut may leave the directory as before a rename: the file
    // under its old name, and the file it replaced under this one.
    std::string renamed_from;
    std::optional<std::string> replaced;
  };
  void model_existing(const std::string& path, File& file);
  FileCause write_out(const std::string& path, const std::string& bytes);

  FileSystem& base_;
  mutable Mutex mu_;
  std::array<int, static_cast<size_t>(FileOp::Count)> calls_ GUARDED_BY(mu_){};
  FileOp fail_op_ GUARDED_BY(mu_) = FileOp::Count;
  int fail_at_ GUARDED_BY(mu_) = 0;
  FileCause fail_cause_ GUARDED_BY(mu_) = FileCause::None;
  int writes_left_ GUARDED_BY(mu_) = -1;  // -1: no crash armed
  bool crashed_ GUARDED_BY(mu_) = false;
  FileOp pause_op_ GUARDED_BY(mu_) = FileOp::Count;
  int pause_at_ GUARDED_BY(mu_) = 0;
  bool paused_ GUARDED_BY(mu_) = false;
  CondVar pause_changed_;
  std::map<std::string, Model> models_ GUARDED_BY(mu_);  // by path
};

}  // namespace pennacle
