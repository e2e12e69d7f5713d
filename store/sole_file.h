// A record file or auxiliary file as the store uses it. While this process is the file's only
// opener (it holds a lease, so no other process can open the file, let alone lock or write it),
// locks need not reach the platform and bytes once read cannot change behind the store's back:
// lock and unlock do nothing and reads are served from pages already read. The store's own writes
// go to the file at once and into those pages, so they stay what the file holds. Leaving the mode
// drops the pages; from then on every call reaches the file.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <vector>

#include "platform/file.h"

namespace pennacle {

class SoleFile final : public File {
 public:
  static constexpr uint64_t kPageSize = 64 * 1024;
  // Pages kept at most; the oldest loaded goes first, so a walk longer than this streams.
  static constexpr size_t kMaxPages = 256;  // 16 MiB

  explicit SoleFile(std::unique_ptr<File> base) : base_(std::move(base)) {}

  // Enters or leaves the mode. Entering fails (false) when the file's length cannot be had.
  [[nodiscard]] bool set_alone(bool alone);
  bool alone() const { return alone_; }
  // Pages held now (for tests and the memory figures of the benchmarks).
  size_t pages() const { return loaded_.size(); }

  FileCause read_at(uint64_t offset, void* buf, size_t n, size_t* got) override;
  FileCause write_at(uint64_t offset, const void* buf, size_t n) override;
  FileCause size(uint64_t* out) override;
  FileCause set_size(uint64_t length) override;
  FileCause lock(uint64_t offset, uint64_t length) override;
  FileCause unlock(uint64_t offset, uint64_t length) override;
  FileCause sync() override { return base_->sync(); }
  void close() override;
  bool take_lease(std::function<void()> on_break) override { return base_->take_lease(std::move(on_break)); }
  void release_lease() override { base_->release_lease(); }
  FileCause id(FileId* out) override { return base_->id(out); }

 private:
  // The page holding `index`, read from the file when it is not held; nullptr on a read failure.
  uint8_t* page(uint64_t index, FileCause* cause);
  void drop_pages();

  std::unique_ptr<File> base_;
  bool alone_ = false;
  uint64_t size_ = 0;                              // the file's length while alone
  std::vector<std::unique_ptr<uint8_t[]>> pages_;  // by page index; null when not held
  std::deque<uint64_t> loaded_;                    // indexes of held pages, oldest first
};

}  // namespace pennacle
