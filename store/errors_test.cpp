#include "store/errors.h"

#include <gtest/gtest.h>

#include <set>
#include <thread>

namespace pennacle {
namespace {

// A number the table has no row for.
DbCode unlisted(int32_t number) { return static_cast<DbCode>(number); }

std::string utf8_literal(const char8_t* s) { return reinterpret_cast<const char*>(s); }

TEST(ErrorTable, OkUnknownAndListedCodes) {
  EXPECT_EQ(db_error_text(DbCode::Ok), "");
  EXPECT_EQ(db_error_text(DbCode::Unknown), "未知错误");
  // Codes without a row, on either side of the table and inside it, fall back to Unknown's text.
  EXPECT_EQ(db_error_text(unlisted(-81)), "未知错误");
  EXPECT_EQ(db_error_text(unlisted(5)), "未知错误");
  EXPECT_EQ(db_error_text(unlisted(-77)), "未知错误");
  EXPECT_EQ(db_error_text(DbCode::NotFound), "指定文件未找到");
  EXPECT_EQ(db_error_text(DbCode::LockFile), "加锁文件失败");
  EXPECT_EQ(db_error_text(DbCode::NotDatabase), "指定文件不是数据库文件");
  EXPECT_EQ(db_error_text(DbCode::NoCurrentDatabase), "未设置当前数据库");
  EXPECT_EQ(db_error_text(DbCode::BadPasswordText), "无效的密码文本");
  EXPECT_EQ(db_error_text(DbCode::NotExclusive), "数据库的共享打开方式不是“#禁止读写”");
}

TEST(ErrorTable, TextOfNoFieldsEndsWithBlankAfterZero) {
  std::string_view t = db_error_text(DbCode::NoFields);
  ASSERT_GE(t.size(), 2u);
  EXPECT_EQ(t.substr(t.size() - 2), "0 ");
}

TEST(ErrorTable, EveryNumberFromMinus2ToMinus80HasItsOwnRowExceptMinus77) {
  for (int32_t number = -2; number >= -80; --number) {
    if (number == -77) continue;
    EXPECT_NE(db_error_text(unlisted(number)), db_error_text(DbCode::Unknown)) << number;
    EXPECT_NE(db_error_text(unlisted(number)), db_error_text(unlisted(number + 1))) << number;
  }
}

TEST(ErrorTable, PrintsTheNumberAndTheMessageInUtf8) {
  EXPECT_EQ(::testing::PrintToString(DbCode::LockFile), utf8_literal(u8"-13 (加锁文件失败)"));
  EXPECT_EQ(::testing::PrintToString(DbCode::Ok), "0 ()");
}

TEST(FileErrors, EachCauseHasACodeOfItsOwnAndGenericFailuresTakeTheCallersCode) {
  const FileCause with_codes[] = {
      FileCause::NotFound,   FileCause::BadPath,          FileCause::TooManyFiles,  FileCause::AccessDenied,
      FileCause::BadHandle,  FileCause::RemoveCurrentDir, FileCause::DirectoryFull, FileCause::BadSeek,
      FileCause::HardwareIo, FileCause::SharingViolation, FileCause::LockViolation, FileCause::DiskFull,
      FileCause::EndOfFile};
  std::set<DbCode> seen;
  for (FileCause c : with_codes) {
    const DbCode code = db_code_of(c, DbCode::AuxAccess);
    EXPECT_NE(db_error_text(code), db_error_text(DbCode::Unknown)) << static_cast<int>(c);
    EXPECT_NE(code, DbCode::AuxAccess) << static_cast<int>(c);
    EXPECT_TRUE(seen.insert(code).second) << "two causes share " << code;
  }
  // The retry rule of the locks looks for these two.
  EXPECT_EQ(db_code_of(FileCause::LockViolation), DbCode::LockFile);
  EXPECT_EQ(db_code_of(FileCause::SharingViolation), DbCode::Sharing);
  EXPECT_EQ(db_code_of(FileCause::Generic), DbCode::Unknown);
  EXPECT_EQ(db_code_of(FileCause::Generic, DbCode::AuxAccess), DbCode::AuxAccess);
  // A file system that cannot lock counts as locked.
  EXPECT_EQ(db_code_of(FileCause::LockUnsupported, DbCode::LockFailed), DbCode::Ok);
  EXPECT_EQ(db_code_of(FileCause::None, DbCode::LockFailed), DbCode::Ok);
}

TEST(LastError, IsPerThread) {
  set_db_last_error(DbCode::NotFound);
  DbCode other_before = DbCode::Unknown, other_after = DbCode::Unknown;
  std::thread t([&] {
    other_before = db_last_error();
    set_db_last_error(DbCode::LockFile);
    other_after = db_last_error();
  });
  t.join();
  EXPECT_EQ(other_before, DbCode::Ok);
  EXPECT_EQ(other_after, DbCode::LockFile);
  EXPECT_EQ(db_last_error(), DbCode::NotFound);
  set_db_last_error(DbCode::Ok);
}

}  // namespace
}  // namespace pennacle
