// Helpers shared by the store's tests: a fixture with a temporary directory, file bytes, and short
// calls of the store's operations.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <string>
#include <vector>

#include "runtime/fatal.h"
#include "store/record_store.h"
#include "testing/fatal_capture.h"
#include "testing/temp_dir.h"

namespace pennacle::testing {

// A table shaped as the ledger's: the store knows no bills, but its tests want the table it keeps most.
inline std::vector<FieldSpec> ledger_fields() {
  return {{"序号", FieldType::Double, 0},    {"类型", FieldType::Text, 16},    {"金额", FieldType::Double, 0},
          {"付款方式", FieldType::Text, 64}, {"时间", FieldType::DateTime, 0}, {"备注", FieldType::Memo, 0}};
}

inline std::string read_bytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

inline void write_bytes(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

inline void put32(std::string& s, size_t at, int32_t v) {
  if (s.size() < at + 4) s.resize(at + 4, '\0');
  std::memcpy(&s[at], &v, 4);
}
inline int32_t get32(const std::string& s, size_t at) {
  int32_t v = 0;
  if (at + 4 <= s.size()) std::memcpy(&v, &s[at], 4);
  return v;
}

inline Value text(const Text& t) { return t.value(); }

// Calls a logical operation and gives its result.
inline bool ok(Command cmd, std::initializer_list<Value> args = {}) {
  Value v = call_command(cmd, args);
  return v.is(Kind::Logical) && v.lo != 0;
}

inline bool open_db(const std::string& path, int32_t read_only = 0, int32_t share = 0) {
  Text p(path);
  Value ro = read_only ? Value::of_int(read_only) : Value{};
  Value sh = share ? Value::of_int(share) : Value{};
  return ok(db_open, {p.value(), Value{}, ro, sh});
}

inline void close_db(const std::string& name = "") {
  Text n(name);
  call_command(db_close, {n.value()});
}

inline int32_t record_count() { return call_command(db_record_count, {}).int_payload(); }

// Reads a field by name; texts come back as std::string.
inline Value read_field(std::string_view name) {
  Text n(name);
  return call_command(db_read_field, {n.value()});
}
inline std::string read_text(std::string_view name) {
  Value v = read_field(name);
  return Text::from_result(v).str();
}
inline double read_double(std::string_view name) { return read_field(name).double_payload(); }

inline bool append_bill(double number, std::string_view type, double amount, std::string_view channel,
                        double time, std::string_view remark) {
  Text t(type), c(channel), r(remark);
  return ok(db_append, {Value::of_double(number), t.value(), Value::of_double(amount), c.value(),
                        Value::of_date_time(time), r.value()});
}

// A table of 100 KB records (a number "n" and a long text "t"), so a purge reads and moves one
// record per batch: records 1 to `rows` with n = k and t = "rowk", then the records numbered in
// `deleted` deleted. The table is left open. Call it under ASSERT_NO_FATAL_FAILURE.
inline void make_big_record_table(const std::string& path, int rows, std::initializer_list<int> deleted) {
  ASSERT_EQ(create_database(path, {{"n", FieldType::Int, 0}, {"t", FieldType::Text, 100000}}), DbCode::Ok);
  ASSERT_TRUE(open_db(path));
  for (int k = 1; k <= rows; ++k) {
    Text t("row" + std::to_string(k));
    ASSERT_TRUE(ok(db_append, {Value::of_int(k), t.value()}));
  }
  for (int k : deleted) {
    ASSERT_TRUE(ok(db_go_to, {Value::of_int(k)}));
    ASSERT_TRUE(ok(db_delete));
  }
}

// A temporary directory removed at the end of the test; every database left open is closed.
class StoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(tmp_.path().empty());
    dir_ = tmp_.path();
    previous_hook_ = set_fatal_hook(throw_fatal);
    set_db_wait_time(0);
    sole_allowed_ = sole_opener_allowed();  // the environment's choice, put back after the test
  }
  void TearDown() override {
    for (int i = 0; i < 16; ++i) {
      DatabaseInfo info;
      if (!db_current_info(&info)) break;
      close_db(info.full_path);
    }
    for (const std::string& p : opened_) close_db(p);
    set_fatal_hook(previous_hook_);
    set_store_file_system(nullptr);
    std::ignore = set_sole_opener_allowed(sole_allowed_);
  }
  std::string path(const std::string& name) const { return dir_ + "/" + name; }
  // For a test about the platform calls of the lock protocol themselves: no sole-opener mode.
  void full_protocol() { std::ignore = set_sole_opener_allowed(false); }
  // A new record file of `fields` (the ledger's table by default), closed when the test ends.
  std::string ledger(const std::string& name = "data.kdb",
                     const std::vector<FieldSpec>& fields = ledger_fields()) {
    std::string p = path(name);
    EXPECT_EQ(create_database(p, fields), DbCode::Ok);
    opened_.push_back(p);
    return p;
  }
  void track(const std::string& p) { opened_.push_back(p); }

  TempDir tmp_{"pn_store_"};
  bool sole_allowed_ = true;
  std::string dir_;
  std::vector<std::string> opened_;
  FatalHook previous_hook_ = nullptr;
};

}  // namespace pennacle::testing
