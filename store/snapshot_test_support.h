// What the snapshot and restore tests share: a power cut that stops every change to the disk.
#pragma once

#include <memory>
#include <string_view>
#include <utility>
#include <vector>

#include "testing/fault_file.h"

namespace pennacle::testing {

// The fault-injecting file system, except that once its crash has struck, renames and removals fail
// too: after the power is gone nothing changes a directory, and no clean-up after the failure runs.
class PowerCutFs final : public FileSystem {
 public:
  PowerCutFs() = default;
  FaultFileSystem& faults() { return faults_; }

  FileCause open(std::string_view p, FileAccess a, FileShare s, std::unique_ptr<File>* out) override {
    return faults_.open(p, a, s, out);
  }
  FileCause create(std::string_view p, std::unique_ptr<File>* out) override {
    if (faults_.crashed()) return FileCause::HardwareIo;
    return faults_.create(p, out);
  }
  FileCause remove(std::string_view p) override {
    return faults_.crashed() ? FileCause::HardwareIo : faults_.remove(p);
  }
  FileCause rename(std::string_view from, std::string_view to) override {
    return faults_.crashed() ? FileCause::HardwareIo : faults_.rename(from, to);
  }
  FileCause sync_directory_of(std::string_view p) override { return faults_.sync_directory_of(p); }
  FileCause id_of(std::string_view p, FileId* out) override { return faults_.id_of(p, out); }

 private:
  FaultFileSystem faults_{posix_file_system()};
};

// What the cuts keep of the writes not synced: none, all, and three seeded subsets of sectors.
inline std::vector<std::pair<CutKeeps, uint32_t>> power_cut_kinds() {
  return {{CutKeeps::Nothing, 0},
          {CutKeeps::Everything, 0},
          {CutKeeps::RandomSectors, 1},
          {CutKeeps::RandomSectors, 2},
          {CutKeeps::RandomSectors, 3}};
}

}  // namespace pennacle::testing
