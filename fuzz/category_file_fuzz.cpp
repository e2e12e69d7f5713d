// The category file reader on arbitrary bytes, and a writer after it: a file that reads takes a
// change (an append, then one that drops an entry and writes the file anew), and reads back with
// every entry it held and the change, never anything else. The same bytes go to the method account
// file (one machinery, another header) with the category header swapped for its own.
#include <cstdint>
#include <map>
#include <string>

#include "fuzz/mem_file.h"
#include "ledger/categories.h"
#include "ledger/method_accounts.h"

using namespace pennacle;

namespace {

constexpr const char* kPath = "data.kdb.categories";

std::map<int32_t, std::string> state_of(const CategoryFile& f) {
  std::map<int32_t, std::string> out;
  for (const auto& [serial, e] : f.entries()) out[serial] = e.name + (e.by_hand ? "/h" : "/r");
  return out;
}

// Reads the file again; traps unless it reads and holds `want`.
void expect_state(fuzzing::MemFileSystem& fs, const NamedEntryFileKind& kind,
                  const std::map<int32_t, std::string>& want) {
  CategoryFile again(kind);
  if (!again.open(fs, kPath, false).ok() || state_of(again) != want) __builtin_trap();
}

// Reads `bytes` as a file of `kind`, then changes it twice, checking each change.
void run(std::string bytes, const NamedEntryFileKind& kind) {
  fuzzing::MemFileSystem fs;
  fs.files[kPath] = std::make_shared<std::string>(std::move(bytes));
  CategoryFile f(kind);
  const Status read = f.open(fs, kPath, true);
  if (!read.ok()) {
    if (read.message().empty()) __builtin_trap();  // a refusal says why
    return;
  }
  std::map<int32_t, std::string> want = state_of(f);
  const CategoryKey added{INT32_MAX, 45000.5, 12.5, true};
  if (!f.update({{added, "Expenses:Food", true}}, nullptr).ok()) return;  // past the in-memory limit
  want[INT32_MAX] = "Expenses:Food/h";
  expect_state(fs, kind, want);
  // Every entry stays live but the first one; the file is written anew without it.
  LiveBills live;
  for (const auto& [serial, e] : f.entries()) live[serial] = e.key;
  if (!live.empty()) {
    live.erase(f.entries().begin()->first);
    want.erase(f.entries().begin()->first);
  }
  if (!f.update({}, &live).ok()) return;
  expect_state(fs, kind, want);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string bytes(reinterpret_cast<const char*>(data), size);
  run(bytes, category_file_kind());
  const std::string_view from = category_file_kind().header, to = method_account_file_kind().header;
  if (bytes.starts_with(from)) bytes.replace(0, from.size(), to);
  run(std::move(bytes), method_account_file_kind());
  return 0;
}
