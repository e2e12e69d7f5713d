// The window's delete fills the recycle bin beside the ledger, and shows what it showed before.
#include <gtest/gtest.h>

#include <fstream>

#include "app/ledger.h"
#include "app/ledger_test_support.h"
#include "ledger/recycle_bin.h"
#include "platform/file.h"
#include "store/record_store.h"

namespace pennacle {
namespace {

using testing::append_bill;
using testing::stored_bills;

class LedgerBin : public testing::LedgerFixture {
 protected:
  std::string bin_path() { return ledger_data_path() + ".trash"; }
  std::vector<BinEntry> bin() {
    RecycleBin b;
    const Status s = b.open(posix_file_system(), ledger_data_path(), false);
    EXPECT_TRUE(s.ok()) << s.message();
    return b.bills();
  }
  // Three bills; the second one selected.
  void three_bills() {
    start();
    ASSERT_TRUE(append_bill("支出", 1, "a", 45000.5, "one"));
    ASSERT_TRUE(append_bill("支出", 2.75, "微信", 45001.25, "two 二"));
    ASSERT_TRUE(append_bill("收入", 3, "c", 45002, "three"));
    refresh();
    view_.select(1);
  }
};

TEST_F(LedgerBin, TheDeletedBillIsInTheBinWithEveryValue) {
  three_bills();
  DeleteRecord_Click(0, nullptr, nullptr);
  wait_for_refreshes();
  EXPECT_TRUE(view_.boxes().empty()) << "no question and no message";
  ASSERT_EQ(stored_bills().size(), 2u);
  const std::vector<BinEntry> binned = bin();
  ASSERT_EQ(binned.size(), 1u);
  const Bill& b = binned[0].bill;
  EXPECT_EQ(b.serial, 2);
  EXPECT_EQ(b.type, "支出");
  EXPECT_EQ(b.amount, 2.75);
  EXPECT_EQ(b.channel, "微信");
  EXPECT_EQ(b.time, 45001.25);
  EXPECT_EQ(b.remark, "two 二");
  EXPECT_GT(binned[0].deleted_at, 45002.0) << "deleted now";
  EXPECT_EQ(view_.rows().size(), 2u);
}

// The bin cannot take the bill (damaged here): the record stays, the window shows no message, as
// when the store refuses a delete, and the list shows the bill still there.
TEST_F(LedgerBin, WhenTheBinCannotTakeTheBillItStaysAndNothingIsShown) {
  three_bills();
  std::ofstream(bin_path(), std::ios::binary) << "not a bin\n";
  DeleteRecord_Click(0, nullptr, nullptr);
  wait_for_refreshes();
  EXPECT_TRUE(view_.boxes().empty());
  EXPECT_EQ(stored_bills().size(), 3u);
  EXPECT_EQ(view_.rows().size(), 3u);
}

}  // namespace
}  // namespace pennacle
