// Reads of an open file that cost no system call: a read-only shared mapping of it. On Linux a
// shared mapping and pread see the same page cache, so bytes copied from the mapping are what
// read_at would give at that moment, writes of other processes included; a caller holds the same
// locks for them as for read_at.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

namespace pennacle {

class FileMap {
 public:
  FileMap() = default;
  FileMap(const FileMap&) = delete;
  FileMap& operator=(const FileMap&) = delete;
  ~FileMap() { reset(); }

  // Copies `n` bytes at `offset` of the file open as `fd` when they lie within the file as far as
  // its length was last learned (learned again, with one fstat, when they lie beyond it). False,
  // with `buf` unspecified, when they do not, when no mapping can be had, or when the file was cut
  // shorter since and the bytes are gone (the fault is caught): the caller reads with pread then.
  // After the file was cut shorter, bytes past its new end within its last page read as zeros, so
  // a caller that must tell those from the file's own bytes checks a bound of its own first.
  [[nodiscard]] bool copy(int fd, uint64_t offset, void* buf, size_t n);
  // The file's length is now `length`, set through this process's own open.
  void note_size(uint64_t length) { known_size_.store(length, std::memory_order_relaxed); }
  // Unmaps; the next copy maps again. Not while another thread copies.
  void reset();

 private:
  std::atomic<uint8_t*> base_{nullptr};
  std::atomic<uint64_t> known_size_{0};
  std::atomic<uint64_t> since_drop_{0};  // bytes copied, a page each, since the pages were let go
};

// memcpy from `src`, which may lie in a mapping of a file that was cut shorter since it was mapped:
// false instead of the bus error such a read raises. A bus error outside such a copy is handled as
// it was before the first copy.
[[nodiscard]] bool copy_guarded(void* dst, const void* src, size_t n);

}  // namespace pennacle
