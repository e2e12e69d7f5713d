#include "ledger/bill.h"

#include <gtest/gtest.h>

#include "platform/gbk.h"
#include "store/test_support.h"
#include "testing/fault_file.h"

namespace pennacle {
namespace {

using namespace pennacle::testing;

class BillCodec : public StoreTest {
 protected:
  void open_new(const std::vector<FieldSpec>& fields) { ASSERT_TRUE(open_db(ledger("b.kdb", fields))); }
};

// What goes in through the codec comes back through it, in the table kdbtool creates.
TEST_F(BillCodec, ABillRoundTripsThroughTheTable) {
  open_new(bill_table_fields());
  Result<BillTable> table = current_bill_table();
  ASSERT_TRUE(table.ok()) << table.status().message();
  EXPECT_EQ(table->remark_limit, kMemoRemarkBytes);
  const std::vector<Bill> group = {{0, "支出", 12.5, "微信", 45000.25, "午饭"},
                                   {0, "收入", 0.01, "现金", 45001, std::string(700, 'x')}};
  std::vector<int32_t> serials;
  ASSERT_EQ(append_bills(group, &serials), DbCode::Ok);
  ASSERT_EQ(serials.size(), 2u);
  call_command(db_go_first, {});
  for (size_t i = 0; i < group.size(); ++i) {
    Bill b;
    EXPECT_EQ(read_current_bill(&b), std::nullopt);
    EXPECT_EQ(b.type, group[i].type);
    EXPECT_EQ(b.amount, group[i].amount);
    EXPECT_EQ(b.channel, group[i].channel);
    EXPECT_EQ(b.time, group[i].time);
    EXPECT_EQ(b.remark, group[i].remark);
    // The running number is the window's: the count before the bill, plus one.
    EXPECT_EQ(call_command(db_read_field, {Value::of_int(1)}).double_payload(), static_cast<double>(i + 1));
    call_command(db_skip, {});
  }
  EXPECT_TRUE(group[0].is_expense());
  EXPECT_FALSE(group[1].is_expense());
  // A walk that needs no texts leaves them as they were.
  call_command(db_go_first, {});
  Bill sums_only;
  sums_only.remark = "kept";
  EXPECT_EQ(read_current_bill(&sums_only, BillParts::WithoutTexts), std::nullopt);
  EXPECT_EQ(sums_only.remark, "kept");
  EXPECT_EQ(sums_only.amount, 12.5);
}

// A field of the right name but the wrong kind is named, with the fields before it read.
TEST_F(BillCodec, AFieldOfAnotherKindIsNamed) {
  std::vector<FieldSpec> fields = ledger_fields();
  fields[4].type = FieldType::Double;  // 时间 as a number
  open_new(fields);
  ASSERT_TRUE(call_command(db_append, {Value::of_double(1), Text("支出").value(), Value::of_double(3),
                                       Text("微信").value(), Value::of_double(45000), Text("").value()})
                  .lo);
  Bill b;
  EXPECT_EQ(read_current_bill(&b), BillField::Time);
  EXPECT_EQ(b.channel, "微信");
  // Such a table is no ledger table to begin with.
  Result<BillTable> table = current_bill_table();
  EXPECT_EQ(table.status().code(), StatusCode::Invalid);
  EXPECT_NE(table.status().message().find(gbk_to_utf8_lossy("时间")), std::string::npos);
}

// A bill is one read of its record under one hold of the record's lock, whatever the order of the
// table's fields: they are found by name. A remark, when read, adds the read of its chain.
TEST_F(BillCodec, ABillIsReadUnderOneHoldOfItsRecordWithItsFieldsFoundByName) {
  std::ignore = set_sole_opener_allowed(false);  // counts the platform's calls
  FaultFileSystem counting(posix_file_system());
  set_store_file_system(&counting);
  std::vector<FieldSpec> fields = ledger_fields();
  std::swap(fields[1], fields[4]);  // 时间 second, 类型 fifth
  open_new(fields);
  ASSERT_TRUE(call_command(db_append, {Value::of_double(1), Value::of_date_time(45000.5), Value::of_double(3),
                                       Text("微信").value(), Text("支出").value(), Text("晚饭").value()})
                  .lo);
  call_command(db_go_first, {});
  const struct {
    BillParts parts;
    int reads;
  } cases[] = {{BillParts::All, 2}, {BillParts::WithoutRemark, 1}, {BillParts::WithoutTexts, 1}};
  for (const auto& c : cases) {
    counting.reset();
    Bill b;
    EXPECT_EQ(read_current_bill(&b, c.parts), std::nullopt);
    EXPECT_EQ(db_last_error(), DbCode::Ok);
    EXPECT_EQ(counting.calls(FileOp::Lock), 1);
    EXPECT_EQ(counting.calls(FileOp::Unlock), 1);
    EXPECT_EQ(counting.calls(FileOp::Read), c.reads);
    EXPECT_EQ(b.type, "支出");
    EXPECT_EQ(b.amount, 3);
    EXPECT_EQ(b.time, 45000.5);
    EXPECT_EQ(b.channel, c.parts == BillParts::WithoutTexts ? "" : "微信");
    EXPECT_EQ(b.remark, c.parts == BillParts::All ? "晚饭" : "");
  }
}

TEST_F(BillCodec, TheTableCheckNamesWhatIsWrong) {
  EXPECT_EQ(current_bill_table().status().code(), StatusCode::NotFound);
  std::vector<FieldSpec> renamed = ledger_fields();
  renamed[3].name = "方式";
  open_new(renamed);
  Result<BillTable> table = current_bill_table();
  EXPECT_EQ(table.status().code(), StatusCode::Invalid);
  EXPECT_NE(table.status().message().find("field 4"), std::string::npos) << table.status().message();
}

// An amount field of another numeric type keeps less than a double: the codec says what it keeps,
// so that a bill read back compares equal to one about to be written.
TEST_F(BillCodec, StoredAmountIsWhatTheFieldGivesBack) {
  for (FieldType t : {FieldType::Float, FieldType::Int, FieldType::Double}) {
    std::vector<FieldSpec> fields = ledger_fields();
    fields[2].type = t;
    std::filesystem::remove(path("b.kdb"));
    std::filesystem::remove(path("b.KDT"));
    open_new(fields);
    Result<BillTable> table = current_bill_table();
    ASSERT_TRUE(table.ok());
    std::vector<int32_t> serials;
    ASSERT_EQ(append_bills({{0, "支出", 28.16, "微信", 45000, ""}}, &serials), DbCode::Ok);
    call_command(db_go_first, {});
    Bill b;
    ASSERT_EQ(read_current_bill(&b), std::nullopt);
    EXPECT_EQ(b.amount, stored_amount(*table, 28.16)) << static_cast<int>(t);
    call_command(db_close, {});
  }
}

TEST(BillRules, RemarksAreCutOnCharacterBoundaries) {
  BillTable memo;
  std::string remark;
  for (int i = 0; i < 300; ++i) remark += "长";
  remark = "a" + remark;  // an odd start: the cut falls inside a character
  EXPECT_TRUE(cut_remark(memo, &remark));
  EXPECT_EQ(remark.size(), 499u);
  EXPECT_TRUE(gbk_to_utf8(remark).has_value());
  BillTable narrow;
  narrow.remark_limit = 7;
  std::string text = "示例餐厅";
  EXPECT_TRUE(cut_remark(narrow, &text));
  EXPECT_EQ(text, "示例餐");
  EXPECT_FALSE(cut_remark(narrow, &text));
}

TEST(BillRules, ValidBills) {
  EXPECT_TRUE(bill_valid({0, "支出", 0.01, "微信", 0, ""}));
  EXPECT_FALSE(bill_valid({0, "", 5, "微信", 0, ""}));
  EXPECT_FALSE(bill_valid({0, "支出", 5, "", 0, ""}));
  for (double bad : {0.0, kMinimumAmount, -5.0, std::numeric_limits<double>::infinity(),
                     std::numeric_limits<double>::quiet_NaN()}) {
    EXPECT_FALSE(bill_valid({0, "支出", bad, "微信", 0, ""})) << bad;
  }
}

}  // namespace
}  // namespace pennacle
