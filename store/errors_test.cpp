#include "store/errors.h"

#include <gtest/gtest.h>

#include <thread>

namespace pennacle {
namespace {

TEST(ErrorTable, ZeroUnknownAndListedCodes) {
  EXPECT_EQ(db_error_text(0), "");
  EXPECT_EQ(db_error_text(-1), "未知错误");
  // Codes without a row, on either side of the table, fall back to the text of -1.
  EXPECT_EQ(db_error_text(-81), "未知错误");
  EXPECT_EQ(db_error_text(5), "未知错误");
  EXPECT_EQ(db_error_text(-77), "未知错误");
  EXPECT_EQ(db_error_text(-3), "指定文件未找到");
  EXPECT_EQ(db_error_text(-13), "加锁文件失败");
  EXPECT_EQ(db_error_text(-22), "指定文件不是数据库文件");
  EXPECT_EQ(db_error_text(-67), "未设置当前数据库");
  EXPECT_EQ(db_error_text(-80), "无效的密码文本");
  EXPECT_EQ(db_error_text(-74), "数据库的共享打开方式不是“#禁止读写”");
}

TEST(ErrorTable, TextOfMinus16EndsWithBlankAfterZero) {
  std::string_view t = db_error_text(-16);
  ASSERT_GE(t.size(), 2u);
  EXPECT_EQ(t.substr(t.size() - 2), "0 ");
}

TEST(ErrorTable, EveryCodeFromMinus1ToMinus80HasItsOwnRowExceptMinus77) {
  for (int32_t code = -2; code >= -80; --code) {
    if (code == -77) continue;
    EXPECT_NE(db_error_text(code), db_error_text(-1)) << code;
    EXPECT_NE(db_error_text(code), db_error_text(code + 1)) << code;
  }
}

TEST(LastError, IsPerThread) {
  set_db_last_error(-3);
  int32_t other_before = 1, other_after = 1;
  std::thread t([&] {
    other_before = db_last_error();
    set_db_last_error(-13);
    other_after = db_last_error();
  });
  t.join();
  EXPECT_EQ(other_before, 0);
  EXPECT_EQ(other_after, -13);
  EXPECT_EQ(db_last_error(), -3);
  set_db_last_error(0);
}

}  // namespace
}  // namespace pennacle
