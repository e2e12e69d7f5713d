// The checks and repairs made when a record file is opened, on files written by hand.
#include <gtest/gtest.h>

#include "store/record_store.h"
#include "store/test_support.h"

namespace pennacle {
namespace {

using namespace pennacle::testing;

// One int field at offset 4, record length 8: header 112 + count 4 + one descriptor 72 = 188.
std::string small_file(int32_t count, int32_t records_present, std::string name = "v") {
  std::string s(188, '\0');
  std::memcpy(&s[0], "QKDB", 4);
  put32(s, 4, 0x10000);
  put32(s, 16, count);
  put32(s, 20, records_present + 1);
  put32(s, 24, 8);
  put32(s, 112, 1);
  std::memcpy(&s[116], name.data(), std::min<size_t>(name.size(), 20));
  put32(s, 116 + 20, 3);
  put32(s, 116 + 24, 4);
  for (int i = 0; i < records_present; ++i) {
    std::string r(8, '\0');
    put32(r, 0, i + 1);
    put32(r, 4, 100 + i);
    s += r;
  }
  return s;
}

class OpenValidation : public StoreTest {
 protected:
  // Writes the bytes, opens them and gives the code; the database is closed again.
  DbCode open_code(const std::string& bytes, int32_t read_only = 0) {
    std::string p = path("v.kdb");
    write_bytes(p, bytes);
    bool opened = open_db(p, read_only);
    DbCode code = db_last_error();
    if (opened) close_db(p);
    EXPECT_EQ(opened, code == DbCode::Ok);
    return code;
  }
  std::string after() { return read_bytes(path("v.kdb")); }
};

TEST_F(OpenValidation, PartialLastRecordIsCutOnlyWhenWritable) {
  std::string s = small_file(2, 2) + "xyz";
  EXPECT_EQ(open_code(s, 1), DbCode::Ok);
  EXPECT_EQ(after(), s);  // read-only: unchanged
  EXPECT_EQ(open_code(s), DbCode::Ok);
  EXPECT_EQ(after(), small_file(2, 2));
}

TEST_F(OpenValidation, CountAboveTheRecordsPresentIsCorrectedOrRefused) {
  std::string s = small_file(5, 2);
  EXPECT_EQ(open_code(s, 1), DbCode::FileSize);
  EXPECT_EQ(after(), s);
  EXPECT_EQ(open_code(s), DbCode::Ok);
  EXPECT_EQ(get32(after(), 16), 2);
  EXPECT_EQ(after().size(), s.size());
  ASSERT_TRUE(open_db(path("v.kdb")));
  track(path("v.kdb"));
  EXPECT_EQ(record_count(), 2);
  call_command(db_go_to, {Value::of_int(2)});
  EXPECT_EQ(read_field("v").int_payload(), 101);
}

TEST_F(OpenValidation, HeaderChecksInOrder) {
  EXPECT_EQ(open_code(std::string(111, 'Q')), DbCode::NotDatabase);
  std::string s = small_file(0, 0);
  s[1] = 'X';
  EXPECT_EQ(open_code(s), DbCode::NotDatabase);
  s = small_file(0, 0);
  put32(s, 24, 0);
  EXPECT_EQ(open_code(s), DbCode::NotDatabase);
  s = small_file(0, 0);
  put32(s, 16, -1);
  EXPECT_EQ(open_code(s), DbCode::NotDatabase);
  s = small_file(0, 0);
  put32(s, 20, 0);
  EXPECT_EQ(open_code(s), DbCode::NotDatabase);
  s = small_file(0, 0);
  put32(s, 4, 0x10001);
  EXPECT_EQ(open_code(s), DbCode::VersionTooHigh);
  put32(s, 24, 0);  // the record length is checked before the version
  EXPECT_EQ(open_code(s), DbCode::NotDatabase);
  s = small_file(0, 0);
  put32(s, 112, 0);
  EXPECT_EQ(open_code(s), DbCode::NotDatabase);
  s = small_file(0, 0);
  EXPECT_EQ(open_code(s.substr(0, 114)), DbCode::NotDatabase);  // short field count
  EXPECT_EQ(open_code(s.substr(0, 187)), DbCode::NotDatabase);  // short field table
}

TEST_F(OpenValidation, PasswordsAndProtectedFiles) {
  std::string s = small_file(0, 0);
  std::string p = path("v.kdb");
  write_bytes(p, s);
  Text name(p), pass("secret"), ask("?");
  EXPECT_FALSE(ok(db_open, {name.value(), Value{}, Value{}, Value{}, Value{}, pass.value()}));
  EXPECT_EQ(db_last_error(), DbCode::Password);
  ASSERT_TRUE(ok(db_open, {name.value(), Value{}, Value{}, Value{}, Value{}, ask.value()}));
  close_db();
  s[1] = 'C';
  EXPECT_EQ(open_code(s), DbCode::Password);
  write_bytes(p, s);
  EXPECT_FALSE(ok(db_open, {name.value(), Value{}, Value{}, Value{}, Value{}, pass.value()}));
  EXPECT_EQ(db_last_error(), DbCode::Password);
}

TEST_F(OpenValidation, DescriptorNamesAndTypes) {
  EXPECT_EQ(open_code(small_file(1, 1, "abcdefghijklmnop")), DbCode::Ok);  // 16 bytes
  std::string s = small_file(1, 1, std::string(20, 'a'));
  EXPECT_EQ(open_code(s), DbCode::NotDatabase);  // no zero in the first 17 bytes
  s = small_file(1, 1);
  put32(s, 116 + 20, 13);
  EXPECT_EQ(open_code(s), DbCode::NotDatabase);
  put32(s, 116 + 20, 10);  // text of width 0
  EXPECT_EQ(open_code(s), DbCode::NotDatabase);
  s = small_file(1, 1);
  put32(s, 116 + 24, -4);
  EXPECT_EQ(open_code(s), DbCode::NotDatabase);
}

TEST_F(OpenValidation, FieldsOutsideTheirRecordAreRefusedAndTheFileIsLeftAlone) {
  // A field over the serial, past the record length, or over another field would make an append
  // write outside its record.
  std::string s = small_file(1, 1);
  put32(s, 116 + 24, 2);
  EXPECT_EQ(open_code(s), DbCode::NotDatabase);
  s = small_file(1, 1);
  put32(s, 116 + 24, 5);
  EXPECT_EQ(open_code(s), DbCode::NotDatabase);
  // Two fields: int at 4 and a text of 4 at 6 in a record of 12.
  std::string t(116 + 144, '\0');
  std::memcpy(&t[0], "QKDB", 4);
  put32(t, 4, 0x10000);
  put32(t, 20, 1);
  put32(t, 24, 12);
  put32(t, 112, 2);
  t[116] = 'a';
  put32(t, 116 + 20, 3);
  put32(t, 116 + 24, 4);
  t[188] = 'b';
  put32(t, 188 + 20, 10);
  put32(t, 188 + 24, 6);
  put32(t, 188 + 28, 4);
  EXPECT_EQ(open_code(t), DbCode::NotDatabase);
  put32(t, 188 + 24, 8);
  EXPECT_EQ(open_code(t), DbCode::Ok);
  // A refused file with a count to correct and a partial record is not repaired.
  s = small_file(5, 1) + "zz";
  put32(s, 116 + 24, 6);
  EXPECT_EQ(open_code(s), DbCode::NotDatabase);
  EXPECT_EQ(after(), s);
}

TEST_F(OpenValidation, CountsThatCannotFitAreRefusedBeforeAllocating) {
  std::string s = small_file(0, 0);
  put32(s, 112, 0x7FFFFFFF);  // would ask for 150 GB of descriptors
  EXPECT_EQ(open_code(s), DbCode::NotDatabase);
  s = small_file(0, 0);
  put32(s, 24, 0x7FFFFFFF);  // a record no buffer should be made for
  EXPECT_EQ(open_code(s), DbCode::NotDatabase);
  s = small_file(0x7FFFFFFF, 0);
  EXPECT_EQ(open_code(s), DbCode::Ok);  // corrected to the records present
  EXPECT_EQ(get32(after(), 16), 0);
}

TEST_F(OpenValidation, AuxiliaryFileChecks) {
  std::string p = ledger("m.kdb");
  const std::string aux = path("m.KDT");
  const std::string good = read_bytes(aux);
  auto code = [&](const std::string& aux_bytes, int32_t read_only = 0) {
    write_bytes(aux, aux_bytes);
    bool opened = open_db(p, read_only);
    DbCode c = db_last_error();
    if (opened) close_db(p);
    return c;
  };
  EXPECT_EQ(code(good), DbCode::Ok);
  EXPECT_EQ(code(good.substr(0, 31)), DbCode::AuxReadFailed);
  std::string bad = good;
  bad[3] = 'B';
  EXPECT_EQ(code(bad), DbCode::AuxReadFailed);
  bad = good;
  put32(bad, 16, 0);
  EXPECT_EQ(code(bad), DbCode::AuxReadFailed);
  bad = good;
  put32(bad, 20, 1);  // free count not below the block count
  EXPECT_EQ(code(bad), DbCode::AuxReadFailed);
  bad = good;
  put32(bad, 24, 1);
  EXPECT_EQ(code(bad), DbCode::AuxReadFailed);
  bad = good;
  put32(bad, 4, 0x20000);
  EXPECT_EQ(code(bad), DbCode::AuxVersion);
  bad = good;
  put32(bad, 16, 3);  // counts blocks the file does not hold
  EXPECT_EQ(code(bad, 1), DbCode::AuxDamaged);
  EXPECT_EQ(code(bad), DbCode::Ok);
  EXPECT_EQ(get32(read_bytes(aux), 16), 1);
  std::filesystem::remove(aux);
  EXPECT_EQ(code(""), DbCode::AuxReadFailed);  // an empty file
  std::filesystem::remove(aux);
  EXPECT_FALSE(open_db(p));
  EXPECT_EQ(db_last_error(), DbCode::AuxReadFailed);
}

}  // namespace
}  // namespace pennacle

namespace pennacle {
namespace {

TEST(PasswordCheck, DigestHexSwappedInPairsThenReversed) {
  // MD5("abc") = 900150983cd24fb0d6963f7d28e17f72
  std::string hex = "900150983cd24fb0d6963f7d28e17f72";
  for (size_t i = 0; i < hex.size(); i += 2) std::swap(hex[i], hex[i + 1]);
  std::string want(hex.rbegin(), hex.rend());
  EXPECT_EQ(password_check_of("abc"), want);
  EXPECT_EQ(password_check_of("abc"), "727fe1287d3f96d6b04fd23c98500190");
}

}  // namespace
}  // namespace pennacle
