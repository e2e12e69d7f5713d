// Reads a recycle bin made from the input, then writes to it: whatever the bytes, a bin that opens
// for writing takes a bill, reads back with it after its own bills, and stays readable after a trim.
#include <cstdint>
#include <string>

#include "fuzz/mem_file.h"
#include "ledger/recycle_bin.h"

using namespace pennacle;

namespace {

constexpr double kNow = 45500;

bool same(const BinEntry& a, const BinEntry& b) {
  return a.id == b.id && a.deleted_at == b.deleted_at && a.bill.serial == b.bill.serial &&
         a.bill.type == b.bill.type && a.bill.amount == b.bill.amount && a.bill.channel == b.bill.channel &&
         a.bill.time == b.bill.time && a.bill.remark == b.bill.remark;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzzing::MemFileSystem fs;
  fs.files["d.kdb.trash"] = std::make_shared<std::string>(reinterpret_cast<const char*>(data), size);
  std::vector<BinEntry> before;
  {
    RecycleBin bin;
    if (!bin.open(fs, "d.kdb", false).ok()) return 0;
    before = bin.bills();
    for (size_t i = 1; i < before.size(); ++i) {
      if (before[i].id <= before[i - 1].id) __builtin_trap();  // ids rise through the file
    }
  }
  RecycleBin bin;
  if (!bin.open(fs, "d.kdb", true).ok()) return 0;
  const Bill added{7, "x\t\n%", 0.1 + 0.2, "c", 45000.5, std::string(600, '\x80')};
  int64_t id = 0;
  if (!bin.put(added, kNow, &id).ok()) return 0;
  RecycleBin again;
  if (!again.open(fs, "d.kdb", false).ok()) __builtin_trap();  // what it wrote reads
  const std::vector<BinEntry> after = again.bills();
  if (after.size() != before.size() + 1 || !same(after.back(), {id, kNow, added})) __builtin_trap();
  for (size_t i = 0; i < before.size(); ++i) {
    if (!same(after[i], before[i])) __builtin_trap();
  }
  if (bin.trim(kNow).ok()) {
    RecycleBin trimmed;
    if (!trimmed.open(fs, "d.kdb", false).ok() || trimmed.bills().empty()) __builtin_trap();
  }
  return 0;
}
