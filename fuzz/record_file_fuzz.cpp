// Opens a record file (and auxiliary file) made from the input, walks every record reading every
// field, then appends, deletes and purges, and walks again.
// Input: 4-byte little-endian length of the record file, its bytes, then the auxiliary file.
#include <cstdint>
#include <cstring>

#include "fuzz/mem_file.h"
#include "store/record_store.h"

using namespace pennacle;

namespace {

void walk() {
  DatabaseInfo info;
  if (!db_current_info(&info)) return;
  call_command(db_go_first, {});
  const int32_t count = call_command(db_record_count, {}).int_payload();
  for (int32_t k = 0; k < count && k < 64; ++k) {
    for (size_t f = 0; f < info.fields.size() && f < 32; ++f) {
      Value v = call_command(db_read_field, {Value::of_int(static_cast<int32_t>(f + 1))});
      release_value(v);
    }
    call_command(db_skip, {});
  }
}

Value value_for(const FieldDescriptor& f, Text& text, ByteSet& bytes) {
  switch (field_kind(f.type)) {
    case Kind::Text:
      return text.value();
    case Kind::ByteSet:
      return bytes.value();
    case Kind::Logical:
      return Value::of_logical(true);
    case Kind::DateTime:
      return Value::of_date_time(45000.5);
    case Kind::SubroutineRef:
      return Value::make(Kind::SubroutineRef, 1234);
    default:
      return Value::of_double(-1234.75);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static fuzzing::MemFileSystem* fs = [] {
    auto* f = new fuzzing::MemFileSystem;
    set_store_file_system(f);
    return f;
  }();
  if (size < 4) return 0;
  uint32_t main_len;
  std::memcpy(&main_len, data, 4);
  data += 4;
  size -= 4;
  main_len = std::min<uint32_t>(main_len, static_cast<uint32_t>(size));
  fs->files.clear();
  fs->files["/f/x.kdb"] = std::make_shared<std::string>(reinterpret_cast<const char*>(data), main_len);
  fs->files["/f/x.KDT"] =
      std::make_shared<std::string>(reinterpret_cast<const char*>(data + main_len), size - main_len);

  Text name("/f/x.kdb");
  if (!call_command(db_open, {name.value()}).lo) return 0;
  walk();
  DatabaseInfo info;
  if (!db_current_info(&info)) __builtin_trap();  // the open made it the current one
  Text text(std::string(700, 't'));
  ByteSet bytes(std::string(501, '\x01'));
  std::vector<Value> values;
  for (const FieldDescriptor& f : info.fields) values.push_back(value_for(f, text, bytes));
  Value r;
  db_append(static_cast<int>(values.size()), values.data(), &r);
  call_command(db_go_to, {Value::of_int(1)});
  call_command(db_delete, {});
  call_command(db_go_to, {Value::of_int(3)});
  call_command(db_delete, {});
  call_command(db_purge, {});
  walk();
  call_command(db_close, {});
  return 0;
}
