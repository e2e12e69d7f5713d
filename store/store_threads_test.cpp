// Threads appending, reading, deleting and purging one database at once: every operation stays
// whole, and the file afterwards holds consistent bills in rising serial order.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "store/test_support.h"

namespace pennacle {
namespace {

using namespace pennacle::testing;

class StoreThreads : public StoreTest {};

TEST_F(StoreThreads, AppendReadDeleteAndPurgeAtOnce) {
  ASSERT_TRUE(open_db(ledger()));
  constexpr int kPerWriter = 150;
  constexpr int kDeletes = 40;
  std::atomic<bool> writing{true};
  auto writer = [&](int base) {
    for (int i = 0; i < kPerWriter; ++i) {
      const int n = base + i;
      EXPECT_TRUE(append_bill(n, n % 2 ? "支出" : "收入", n * 2, "微信", 44000 + n, std::to_string(n)));
    }
  };
  auto reader = [&] {
    while (writing) {
      call_command(db_go_first, {});
      const int32_t count = record_count();
      for (int32_t i = 0; i < count; ++i) {
        // Another thread may move the shared position between calls, but each read is whole:
        // a text is one of the written ones, or empty when the position was off the records.
        std::string type = read_text("类型");
        EXPECT_TRUE(type == "支出" || type == "收入" || (type.empty() && db_last_error() != DbCode::Ok))
            << type;
        std::string remark = read_text("备注");
        EXPECT_TRUE(remark.size() == 4 || (remark.empty() && db_last_error() != DbCode::Ok)) << remark;
        call_command(db_skip, {});
      }
    }
  };
  auto deleter = [&] {
    for (int i = 0; i < kDeletes; ++i) {
      call_command(db_go_to, {Value::of_int(1 + i % 5)});
      ok(db_delete);
      ok(db_purge);
    }
  };
  std::thread w1(writer, 1000), w2(writer, 2000), r(reader), d(deleter);
  w1.join();
  w2.join();
  d.join();
  writing = false;
  r.join();

  ASSERT_TRUE(ok(db_purge));
  const int32_t count = record_count();
  EXPECT_LE(count, 2 * kPerWriter);
  EXPECT_GE(count, 2 * kPerWriter - kDeletes);
  call_command(db_go_first, {});
  int32_t last_serial = 0;
  for (int32_t i = 0; i < count; ++i) {
    int32_t serial = 0;
    ASSERT_EQ(db_current_serial(&serial), DbCode::Ok);
    EXPECT_GT(serial, last_serial);
    last_serial = serial;
    const double n = read_double("序号");
    EXPECT_EQ(read_double("金额"), n * 2);
    EXPECT_EQ(read_text("备注"), std::to_string(static_cast<int>(n)));
    EXPECT_EQ(read_text("类型"), static_cast<int>(n) % 2 ? "支出" : "收入");
    call_command(db_skip, {});
  }
}

}  // namespace
}  // namespace pennacle
