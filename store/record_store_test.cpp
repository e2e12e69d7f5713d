#include "store/record_store.h"

#include <gtest/gtest.h>

#include <thread>

#include "store/test_support.h"

namespace pennacle {
namespace {

using namespace pennacle::testing;

// A record file written by hand, byte by byte.
struct HandFile {
  struct F {
    std::string name;
    int32_t type, offset, width;
  };
  std::vector<F> fields;
  int32_t record_length = 0;
  int32_t count = 0;
  int32_t next = 1;
  std::string magic = "QKDB";
  int32_t version = 0x10000;
  std::string records;

  std::string bytes() const {
    std::string s(116 + 72 * fields.size(), '\0');
    std::memcpy(&s[0], magic.data(), 4);
    put32(s, 4, version);
    put32(s, 16, count);
    put32(s, 20, next);
    put32(s, 24, record_length);
    put32(s, 112, static_cast<int32_t>(fields.size()));
    for (size_t i = 0; i < fields.size(); ++i) {
      size_t at = 116 + 72 * i;
      std::memcpy(&s[at], fields[i].name.data(), std::min<size_t>(fields[i].name.size(), 20));
      put32(s, at + 20, fields[i].type);
      put32(s, at + 24, fields[i].offset);
      put32(s, at + 28, fields[i].width);
    }
    return s + records;
  }
};

std::string le(const void* p, size_t n) { return std::string(static_cast<const char*>(p), n); }
template <typename T>
std::string le(T v) {
  return le(&v, sizeof v);
}

std::string aux_block(int32_t prev, int32_t next, std::string_view data) {
  std::string b(512, '\0');
  put32(b, 0, prev);
  put32(b, 4, next);
  put32(b, 8, static_cast<int32_t>(data.size()));
  std::memcpy(&b[12], data.data(), data.size());
  return b;
}

std::string aux_header(int32_t blocks, int32_t free_count, int32_t first_free, int32_t version = 0x10000) {
  std::string b(512, '\0');
  std::memcpy(&b[0], "QKDT", 4);
  put32(b, 4, version);
  put32(b, 16, blocks);
  put32(b, 20, free_count);
  put32(b, 24, first_free);
  return b;
}

class RecordStore : public StoreTest {};

TEST_F(RecordStore, CreateWritesTheExactEmptyLedgerAndAuxiliaryFile) {
  std::string p = ledger();
  std::string kdb = read_bytes(p);
  ASSERT_EQ(kdb.size(), 116u + 72 * 6);
  EXPECT_EQ(kdb.substr(0, 4), "QKDB");
  EXPECT_EQ(get32(kdb, 4), 0x10000);
  EXPECT_EQ(get32(kdb, 8), 0);
  EXPECT_EQ(get32(kdb, 16), 0);
  EXPECT_EQ(get32(kdb, 20), 1);
  EXPECT_EQ(get32(kdb, 24), 4 + 8 + 16 + 8 + 64 + 8 + 4);
  EXPECT_EQ(kdb.substr(28, 84), std::string(84, '\0'));
  EXPECT_EQ(get32(kdb, 112), 6);
  // 类型: text of 16 bytes right after 序号.
  size_t d = 116 + 72;
  EXPECT_EQ(kdb.substr(d, 20), std::string("类型") + std::string(16, '\0'));
  EXPECT_EQ(get32(kdb, d + 20), 10);
  EXPECT_EQ(get32(kdb, d + 24), 12);
  EXPECT_EQ(get32(kdb, d + 28), 16);
  EXPECT_EQ(kdb.substr(d + 32, 40), std::string(40, '\0'));
  EXPECT_EQ(get32(kdb, 116 + 72 * 5 + 20), 12);  // 备注 is a memo
  EXPECT_EQ(read_bytes(dir_ + "/data.KDT"), aux_header(1, 0, 0));
  // An existing file is never overwritten.
  EXPECT_EQ(create_database(p, ledger_fields()), DbCode::CreateFailed);
  EXPECT_EQ(read_bytes(p), kdb);
}

TEST_F(RecordStore, CreateChecksFieldDefinitions) {
  auto code = [&](std::vector<FieldSpec> f) { return create_database(path("x.kdb"), f); };
  EXPECT_EQ(code({}), DbCode::NoFields);
  EXPECT_EQ(code({{"a", static_cast<FieldType>(13), 0}}), DbCode::BadFieldType);
  EXPECT_EQ(code({{"a", static_cast<FieldType>(0), 0}}), DbCode::BadFieldType);
  EXPECT_EQ(code({{"1a", FieldType::Int, 0}}), DbCode::BadFieldName);
  EXPECT_EQ(code({{"a_b", FieldType::Int, 0}}), DbCode::BadFieldName);
  EXPECT_EQ(code({{"", FieldType::Int, 0}}), DbCode::BadFieldName);
  EXPECT_EQ(code({{"abcdefghijklmnop", FieldType::Int, 0}}), DbCode::BadFieldName);  // 16 characters
  EXPECT_EQ(code({{"a", FieldType::Text, 0}}), DbCode::BadFieldSize);
  EXPECT_EQ(code({{"Ab", FieldType::Int, 0}, {"aB", FieldType::Int, 0}}), DbCode::DuplicateField);
  EXPECT_EQ(db_last_error(), DbCode::DuplicateField);
  EXPECT_FALSE(std::filesystem::exists(path("x.kdb")));
  EXPECT_EQ(code({{"名称Ａ1", FieldType::Int, 0}, {"ｂ２", FieldType::Byte, 0}}), DbCode::Ok);
}

TEST_F(RecordStore, HandWrittenRecordsOfEveryTypeReadBack) {
  HandFile h;
  h.fields = {{"b", 1, 4, 0},   {"s", 2, 5, 0},   {"i", 3, 7, 0},   {"l", 4, 11, 0},  {"f", 5, 19, 0},
              {"d", 6, 23, 0},  {"g", 7, 31, 0},  {"t", 8, 32, 0},  {"p", 9, 40, 0},  {"x", 10, 44, 4},
              {"y", 11, 48, 0}, {"m", 12, 52, 0}, {"hi", 8, 56, 0}, {"lo", 8, 64, 0}, {"z", 10, 72, 6}};
  h.record_length = 80;
  h.count = 1;
  h.next = 8;
  std::string r(80, '\0');
  put32(r, 0, 7);
  r[4] = static_cast<char>(200);
  std::memcpy(&r[5], le<int16_t>(-3).data(), 2);
  put32(r, 7, -100000);
  std::memcpy(&r[11], le<int64_t>(-5000000000LL).data(), 8);
  std::memcpy(&r[19], le<float>(1.5f).data(), 4);
  std::memcpy(&r[23], le<double>(12.25).data(), 8);
  r[31] = 7;  // any nonzero byte is true
  std::memcpy(&r[32], le<double>(44000.5).data(), 8);
  put32(r, 40, 0x12345678);
  std::memcpy(&r[44], "abcd", 4);  // exactly the width: no terminator
  put32(r, 48, 1);
  put32(r, 52, 2);
  std::memcpy(&r[56], le<double>(3e6).data(), 8);
  std::memcpy(&r[64], le<double>(-7e5).data(), 8);
  std::memcpy(&r[72], "hi\0zz", 5);
  h.records = r;
  std::string p = path("all.kdb");
  write_bytes(p, h.bytes());
  write_bytes(path("all.KDT"), aux_header(3, 0, 0) + aux_block(0, 0, std::string("\x01\x00\x02", 3)) +
                                   aux_block(0, 0, std::string("memo\0tail", 9)));
  track(p);
  ASSERT_TRUE(open_db(p));
  Value v = read_field("B");  // names compare without regard to case
  EXPECT_TRUE(v.is(Kind::Byte));
  EXPECT_EQ(v.lo, 200u);
  v = read_field("s");
  EXPECT_TRUE(v.is(Kind::Short));
  EXPECT_EQ(static_cast<int16_t>(v.lo), -3);
  EXPECT_EQ(read_field("i").int_payload(), -100000);
  EXPECT_EQ(read_field("l").int64_payload(), -5000000000LL);
  EXPECT_EQ(read_field("f").float_payload(), 1.5f);
  EXPECT_EQ(read_double("d"), 12.25);
  v = read_field("g");
  EXPECT_TRUE(v.is(Kind::Logical));
  EXPECT_EQ(v.lo, 1u);
  v = read_field("t");
  EXPECT_TRUE(v.is(Kind::DateTime));
  EXPECT_EQ(v.double_payload(), 44000.5);
  v = read_field("p");
  EXPECT_TRUE(v.is(Kind::SubroutineRef));
  EXPECT_EQ(v.lo, 0x12345678u);
  EXPECT_EQ(read_text("x"), "abcd");
  v = read_field("y");
  ASSERT_TRUE(v.is(Kind::ByteSet));
  EXPECT_EQ(std::string(ByteSet::from_result(v).view()), std::string("\x01\x00\x02", 3));
  EXPECT_EQ(read_text("m"), "memo");  // a memo is cut at a zero byte
  EXPECT_EQ(read_field("hi").double_payload(), 2958465.0);
  EXPECT_EQ(read_field("lo").double_payload(), -657434.0);
  EXPECT_EQ(read_text("z"), "hi");
  // By number: 1-based, floating numbers truncated.
  EXPECT_EQ(call_command(db_read_field, {Value::of_int(3)}).int_payload(), -100000);
  EXPECT_EQ(call_command(db_read_field, {Value::of_double(3.9)}).int_payload(), -100000);
  EXPECT_EQ(db_last_error(), DbCode::Ok);
}

TEST_F(RecordStore, AppendWritesTheRecordAndHeaderBytes) {
  std::string p = path("a.kdb");
  ASSERT_EQ(create_database(p, {{"n", FieldType::Int, 0},
                                {"t", FieldType::Text, 5},
                                {"b", FieldType::Byte, 0},
                                {"g", FieldType::Logical, 0},
                                {"f", FieldType::Float, 0},
                                {"d", FieldType::Double, 0}}),
            DbCode::Ok);
  track(p);
  ASSERT_TRUE(open_db(p));
  Text exact("abcde"), cut("ab中文"), shorter("xy");
  // A double into an integer field is truncated toward zero; a wide integer keeps its low byte.
  ASSERT_TRUE(ok(db_append, {Value::of_double(-2.9), exact.value(), Value::of_int(0x1FF),
                             Value::of_logical(true), Value::of_int(3), Value::of_int64(5)}));
  ASSERT_TRUE(ok(db_append, {Value::of_double(2.9), cut.value(), Value{}, Value::make(Kind::Logical, 9)}));
  ASSERT_TRUE(ok(db_append, {Value{}, shorter.value()}));
  std::string s = read_bytes(p);
  const size_t start = 116 + 72 * 6;
  const int32_t len = 4 + 4 + 5 + 1 + 1 + 4 + 8;
  ASSERT_EQ(get32(s, 24), len);
  ASSERT_EQ(s.size(), start + 3 * len);
  EXPECT_EQ(get32(s, 16), 3);
  EXPECT_EQ(get32(s, 20), 4);
  std::string r1 = s.substr(start, len), r2 = s.substr(start + len, len), r3 = s.substr(start + 2 * len, len);
  EXPECT_EQ(get32(r1, 0), 1);
  EXPECT_EQ(get32(r1, 4), -2);
  EXPECT_EQ(r1.substr(8, 5), "abcde");  // exactly the width: no terminator
  EXPECT_EQ(static_cast<uint8_t>(r1[13]), 0xFF);
  EXPECT_EQ(r1[14], 1);
  EXPECT_EQ(r1.substr(15, 4), le<float>(3.0f));
  EXPECT_EQ(r1.substr(19, 8), le<double>(5.0));
  EXPECT_EQ(get32(r2, 0), 2);
  EXPECT_EQ(get32(r2, 4), 2);
  // Cut after five bytes, inside the second double-byte character.
  EXPECT_EQ(r2.substr(8, 5), std::string("ab中文").substr(0, 5));
  EXPECT_EQ(r2[14], 1);  // a logical is written as 1
  EXPECT_EQ(r2.substr(13, 1), std::string(1, '\0'));
  EXPECT_EQ(get32(r3, 0), 3);
  EXPECT_EQ(r3.substr(8, 5), std::string("xy\0\0\0", 5));
  EXPECT_EQ(r3.substr(13), std::string(len - 13, '\0'));
  // The current record is the new one.
  EXPECT_EQ(read_text("t"), "xy");
  call_command(db_go_to, {Value::of_int(2)});
  EXPECT_EQ(read_text("t"), std::string("ab中文").substr(0, 5));
}

TEST_F(RecordStore, AppendRefusesAMismatchedKindAndIgnoresExtraValues) {
  std::string p = ledger();
  ASSERT_TRUE(open_db(p));
  std::string before = read_bytes(p);
  Text t("支出"), c("微信"), r("x");
  EXPECT_FALSE(ok(db_append, {Value::of_double(1), Value::of_double(5), Value::of_double(1)}));
  EXPECT_EQ(db_last_error(), DbCode::KindMismatch);
  EXPECT_FALSE(
      ok(db_append, {Value::of_double(1), t.value(), Value::of_double(1), c.value(), Value::of_double(3)}));
  EXPECT_EQ(db_last_error(), DbCode::KindMismatch);  // a date-time field takes only date-time values
  EXPECT_EQ(read_bytes(p), before);
  ASSERT_TRUE(ok(db_append, {Value::of_double(1), t.value(), Value::of_double(12.5), c.value(),
                             Value::of_date_time(44000), r.value(), Value::of_int(99), r.value()}));
  EXPECT_EQ(record_count(), 1);
  EXPECT_EQ(read_text("备注"), "x");
}

TEST_F(RecordStore, NavigationInAnEmptyDatabase) {
  ASSERT_TRUE(open_db(ledger()));
  call_command(db_go_first, {});
  EXPECT_EQ(db_last_error(), DbCode::Ok);
  EXPECT_EQ(record_count(), 0);
  EXPECT_EQ(read_double("金额"), 0);
  EXPECT_EQ(db_last_error(), DbCode::SeekFailed);
  EXPECT_FALSE(ok(db_skip));
  EXPECT_EQ(db_last_error(), DbCode::AfterLast);
  EXPECT_FALSE(ok(db_skip, {Value::of_int(-1)}));
  EXPECT_EQ(db_last_error(), DbCode::BeforeFirst);
  EXPECT_TRUE(ok(db_go_to, {Value::of_int(5)}));
  DatabaseInfo info;
  ASSERT_TRUE(db_current_info(&info));
  EXPECT_EQ(info.current, 0);
  EXPECT_FALSE(ok(db_delete));
  EXPECT_EQ(db_last_error(), DbCode::NoCurrentRecord);
}

TEST_F(RecordStore, SkipAndGoToAtTheEnds) {
  ASSERT_TRUE(open_db(ledger()));
  for (int i = 1; i <= 3; ++i) ASSERT_TRUE(append_bill(i, "支出", i * 10, "微信", 44000, ""));
  DatabaseInfo info;
  auto current = [&] {
    EXPECT_TRUE(db_current_info(&info));
    return info.current;
  };
  EXPECT_EQ(current(), 2);
  EXPECT_TRUE(ok(db_skip));  // onto the position after the last record
  EXPECT_EQ(current(), 3);
  EXPECT_FALSE(ok(db_skip, {Value::of_int(1)}));
  EXPECT_EQ(db_last_error(), DbCode::AfterLast);
  EXPECT_EQ(read_double("金额"), 0);
  EXPECT_EQ(db_last_error(), DbCode::SeekFailed);
  EXPECT_TRUE(ok(db_go_to, {Value::of_int(0)}));
  EXPECT_EQ(current(), 0);
  EXPECT_TRUE(ok(db_go_to, {Value::of_int(-5)}));
  EXPECT_EQ(current(), 0);
  EXPECT_TRUE(ok(db_go_to, {Value::of_int(99)}));
  EXPECT_EQ(current(), 2);
  EXPECT_EQ(read_double("金额"), 30);
  EXPECT_TRUE(ok(db_skip, {Value::of_int(-10)}));  // clamped to the position before the first
  EXPECT_EQ(current(), -1);
  EXPECT_FALSE(ok(db_skip, {Value::of_int(-1)}));
  EXPECT_EQ(db_last_error(), DbCode::BeforeFirst);
  EXPECT_EQ(read_double("金额"), 0);
  EXPECT_EQ(db_last_error(), DbCode::NoCurrentRecord);
  EXPECT_TRUE(ok(db_skip, {Value::of_int(0)}));
  EXPECT_TRUE(ok(db_skip));
  EXPECT_EQ(read_double("金额"), 10);
}

TEST_F(RecordStore, DeleteAndPurgeKeepOrderAndNeverReuseSerials) {
  std::string p = ledger();
  ASSERT_TRUE(open_db(p));
  for (int i = 1; i <= 6; ++i)
    ASSERT_TRUE(append_bill(i, "支出", i, "微信", 44000 + i, "备注" + std::to_string(i)));
  for (int n : {2, 2, 5}) {  // the same record twice: still one deletion
    ASSERT_TRUE(ok(db_go_to, {Value::of_int(n)}));
    ASSERT_TRUE(ok(db_delete));
  }
  EXPECT_EQ(record_count(), 6);  // counted until the purge
  call_command(db_go_to, {Value::of_int(2)});
  int32_t serial = 0;
  EXPECT_EQ(db_current_serial(&serial), DbCode::Ok);
  EXPECT_EQ(serial, -2);
  EXPECT_EQ(read_double("金额"), 2);  // deleted records still read
  ASSERT_TRUE(ok(db_purge));
  EXPECT_EQ(record_count(), 4);
  std::vector<int32_t> serials;
  std::vector<std::string> remarks;
  call_command(db_go_first, {});
  for (int i = 0; i < 4; ++i) {
    ASSERT_EQ(db_current_serial(&serial), DbCode::Ok);
    serials.push_back(serial);
    remarks.push_back(read_text("备注"));
    call_command(db_skip, {});
  }
  EXPECT_EQ(serials, (std::vector<int32_t>{1, 3, 4, 6}));
  EXPECT_EQ(remarks, (std::vector<std::string>{"备注1", "备注3", "备注4", "备注6"}));
  std::string s = read_bytes(p);
  EXPECT_EQ(s.size(), 116 + 72 * 6 + 4u * get32(s, 24));
  EXPECT_EQ(get32(s, 20), 7);  // next serial unchanged
  ASSERT_TRUE(append_bill(7, "收入", 7, "银行卡", 44007, ""));
  ASSERT_EQ(db_current_serial(&serial), DbCode::Ok);
  EXPECT_EQ(serial, 7);
  // Purging with nothing deleted leaves the file as it is and goes to record 1.
  std::string before = read_bytes(p);
  ASSERT_TRUE(ok(db_purge));
  EXPECT_EQ(read_bytes(p), before);
  DatabaseInfo info;
  ASSERT_TRUE(db_current_info(&info));
  EXPECT_EQ(info.current, 0);
}

TEST_F(RecordStore, OpenNamesPathsAndTheRegistry) {
  EXPECT_FALSE(open_db(path("missing.kdb")));
  EXPECT_EQ(db_last_error(), DbCode::NotFound);
  DbCode other = DbCode::Unknown;
  std::thread([&] { other = db_last_error(); }).join();
  EXPECT_EQ(other, DbCode::Ok);
  EXPECT_FALSE(ok(db_open, {}));
  EXPECT_EQ(db_last_error(), DbCode::NotFound);

  std::string p = path("Book.KDB");
  ASSERT_EQ(create_database(path("Book"), ledger_fields()), DbCode::Ok);  // the default extension
  ASSERT_TRUE(std::filesystem::exists(p));
  track(p);
  ASSERT_TRUE(open_db(path("Book")));
  EXPECT_FALSE(open_db(path("book.kdb")));  // another letter case of an open file
  EXPECT_EQ(db_last_error(), DbCode::AlreadyOpen);
  ASSERT_EQ(chdir(dir_.c_str()), 0);
  EXPECT_FALSE(open_db("./sub/../Book.kdb"));
  EXPECT_EQ(db_last_error(), DbCode::AlreadyOpen);
  ASSERT_EQ(chdir("/tmp"), 0);
  std::string q = ledger("other.kdb");
  Text qn(q), bad_alias("1x"), alias("账本");
  EXPECT_FALSE(ok(db_open, {qn.value(), bad_alias.value()}));
  EXPECT_EQ(db_last_error(), DbCode::BadAlias);
  ASSERT_TRUE(ok(db_open, {qn.value(), alias.value()}));
  EXPECT_EQ(record_count(), 0);
  close_db("nothing");
  EXPECT_EQ(db_last_error(), DbCode::Ok);
  ASSERT_TRUE(append_bill(1, "支出", 1, "微信", 44000, ""));
  close_db("BOOK");  // by base name, not current: the current one stays
  EXPECT_EQ(record_count(), 1);
  close_db();
  EXPECT_EQ(record_count(), 0);
  EXPECT_EQ(db_last_error(), DbCode::NoCurrentDatabase);
  EXPECT_FALSE(ok(db_skip));
  EXPECT_EQ(db_last_error(), DbCode::NoCurrentDatabase);
  EXPECT_FALSE(append_bill(1, "支出", 1, "微信", 44000, ""));
  EXPECT_EQ(db_last_error(), DbCode::NoCurrentDatabase);
  // Closed files can be opened again.
  ASSERT_TRUE(open_db(p));
  ASSERT_TRUE(ok(db_open, {qn.value(), alias.value()}));
  close_db("账本");
  EXPECT_EQ(db_last_error(), DbCode::Ok);
  EXPECT_EQ(record_count(), 0);
  EXPECT_EQ(db_last_error(), DbCode::NoCurrentDatabase);  // closing the current one leaves none current
}

TEST_F(RecordStore, IndexNamesArePassedOverWithTheirCodes) {
  std::string p = ledger();
  Text name(p), idx("a.knx");
  std::vector<Value> args = {name.value(), Value{}, Value{}, Value{}, Value{}, Value{}, idx.value()};
  EXPECT_FALSE(call_command(db_open, {args[0], args[1], args[2], args[3], args[4], args[5], args[6]}).lo);
  EXPECT_EQ(db_last_error(), DbCode::IndexOpenFailed);
  Value many[17];
  many[0] = name.value();
  for (int i = 6; i < 17; ++i) many[i] = idx.value();
  Value result;
  db_open(17, many, &result);
  EXPECT_EQ(db_last_error(), DbCode::TooManyIndexes);
  ASSERT_TRUE(open_db(p));  // nothing of the failed opens stayed open
}

TEST_F(RecordStore, ReadFieldFaultsGoThroughTheFatalPath) {
  try {
    read_field("金额");
    FAIL() << "no fatal report";
  } catch (const FatalCaught& f) {
    EXPECT_EQ(f.report.message, "未指定当前数据库或者指定数据库未打开");
  }
  ASSERT_TRUE(open_db(ledger()));
  try {
    call_command(db_read_field, {Value::of_int(0)});
    FAIL() << "no fatal report";
  } catch (const FatalCaught& f) {
    EXPECT_EQ(f.report.message, "指定字段不存在");
  }
  try {
    read_field("金 额");
    FAIL() << "no fatal report";
  } catch (const FatalCaught& f) {
    EXPECT_EQ(f.report.message, "指定字段不存在");
  }
  try {
    call_command(db_read_field, {Value::of_logical(true)});
    FAIL() << "no fatal report";
  } catch (const FatalCaught& f) {
    EXPECT_EQ(f.report.code, kFaultBadArgumentKind);
  }
  // The store is still usable: the fault released its mutex.
  EXPECT_EQ(record_count(), 0);
}

}  // namespace
}  // namespace pennacle

namespace pennacle {
namespace {

using namespace pennacle::testing;

class RecordStoreMore : public StoreTest {};

TEST_F(RecordStoreMore, TwoOpensOfOneFileInOneProcessKeepTheirSharingModes) {
  std::string p = path("a.kdb");
  ASSERT_EQ(create_database(p, {{"n", FieldType::Int, 0}}), DbCode::Ok);  // no auxiliary file to link as well
  track(p);
  std::filesystem::create_symlink(p, path("b.kdb"));
  track(path("b.kdb"));
  ASSERT_TRUE(open_db(p, 0, 4));
  EXPECT_FALSE(open_db(path("b.kdb")));  // another path to the same file
  EXPECT_EQ(db_last_error(), DbCode::Sharing);
  close_db();
  ASSERT_TRUE(open_db(p, 0, 3));           // deny write
  EXPECT_TRUE(open_db(path("b.kdb"), 1));  // reading is allowed
  close_db();
  EXPECT_FALSE(open_db(path("b.kdb")));  // writing is not
  EXPECT_EQ(db_last_error(), DbCode::Sharing);
}

TEST_F(RecordStoreMore, CloseByARelativePathOrWithoutTheExtension) {
  std::string p = ledger("book.kdb");
  ASSERT_TRUE(open_db(p));
  ASSERT_EQ(chdir(dir_.c_str()), 0);
  close_db("./book");
  EXPECT_EQ(record_count(), 0);
  EXPECT_EQ(db_last_error(), DbCode::NoCurrentDatabase);
  ASSERT_EQ(chdir("/tmp"), 0);
}

TEST_F(RecordStoreMore, PurgeDropsOnlyExactStaleCopies) {
  // Serials out of order but different records: both stay. An exact copy of a kept record (what
  // an interrupted purge leaves) goes.
  std::string p = path("s.kdb");
  ASSERT_EQ(create_database(p, {{"v", FieldType::Int, 0}}), DbCode::Ok);
  track(p);
  std::string s = read_bytes(p);
  auto rec = [](int32_t serial, int32_t v) {
    std::string r(8, '\0');
    put32(r, 0, serial);
    put32(r, 4, v);
    return r;
  };
  s += rec(5, 50) + rec(3, 30) + rec(-4, 40) + rec(5, 50) + rec(3, 31);
  put32(s, 16, 5);
  put32(s, 20, 6);
  write_bytes(p, s);
  ASSERT_TRUE(open_db(p));
  ASSERT_TRUE(ok(db_purge));
  std::vector<int32_t> values;
  for (int32_t i = 0, n = record_count(); i < n; ++i) {
    values.push_back(read_field("v").int_payload());
    call_command(db_skip, {});
  }
  EXPECT_EQ(values, (std::vector<int32_t>{50, 30, 31}));
}

}  // namespace
}  // namespace pennacle
