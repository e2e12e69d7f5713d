// Reads an import log made from the input, then appends to it: whatever the bytes, every entry read
// writes back as a line that reads as the same entry, a log that opens for appending takes an entry
// and reads back with it after its own, and a repair leaves a log that opens.
#include <cstdint>
#include <string>

#include "fuzz/mem_file.h"
#include "ledger/import/import_log.h"

using namespace pennacle;

namespace {

constexpr const char* kPath = "d.kdb.imports";

bool same(const ImportEntry& a, const ImportEntry& b) {
  return a.kind == b.kind && a.key == b.key && a.income == b.income && a.serial == b.serial &&
         a.fingerprint == b.fingerprint && a.merchant == b.merchant && a.refund == b.refund &&
         a.channel == b.channel && a.remark == b.remark;
}

ImportEntry added_entry() {
  ImportEntry e;
  e.kind = ImportEntry::Kind::Refund;
  e.key = {"2023\t%0\n", 45000, 0.1 + 0.2};
  e.income = true;
  e.serial = -7;
  e.fingerprint = UINT64_MAX;
  e.merchant = std::string(300, '\x80');
  e.channel = "c";
  e.remark = std::string("a\0b", 3);
  return e;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzzing::MemFileSystem fs;
  const std::string input(reinterpret_cast<const char*>(data), size);
  fs.files[kPath] = std::make_shared<std::string>(input);
  std::vector<ImportEntry> before;
  {
    ImportLog log;
    if (log.open(fs, kPath, false).ok()) {
      before = log.entries();
      for (const ImportEntry& e : before) {
        ImportEntry back;
        if (!parse_import_entry_line(import_entry_line(e), &back) || !same(back, e)) __builtin_trap();
      }
    }
  }
  {
    ImportLog log;
    if (log.open(fs, kPath, true).ok()) {
      if (log.entries().size() != before.size()) __builtin_trap();  // read alike either way
      const ImportEntry added = added_entry();
      if (log.append({added}, true).ok()) {
        ImportLog again;
        if (!again.open(fs, kPath, false).ok()) __builtin_trap();  // what it wrote reads
        const std::vector<ImportEntry>& after = again.entries();
        if (after.size() != before.size() + 1 || !same(after.back(), added)) __builtin_trap();
        for (size_t i = 0; i < before.size(); ++i) {
          if (!same(after[i], before[i])) __builtin_trap();
        }
      }
    }
  }
  fs.files[kPath] = std::make_shared<std::string>(input);
  if (repair_import_log(fs, kPath).ok()) {
    ImportLog repaired;
    if (!repaired.open(fs, kPath, false).ok()) __builtin_trap();
  }
  return 0;
}
