// What an import books: refunds against their payments, closed and pending trades, statuses, rows
// without an order number, across one export and across several.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>

#include "ledger/amount_text.h"
#include "ledger/import/export_samples.h"
#include "tools/kdbtool_test_support.h"

namespace pennacle {
namespace {

using namespace pennacle::testing;

// The counts line an import prints.
std::string counts(int added, int already, int neutral, int closed, int pending = 0, int unknown = 0,
                   int orphan = 0) {
  return "added " + std::to_string(added) + ", already there " + std::to_string(already) +
         ", neutral skipped " + std::to_string(neutral) + ", failed or closed skipped " +
         std::to_string(closed) + ", pending " + std::to_string(pending) + ", unknown status " +
         std::to_string(unknown) + ", refund without its payment " + std::to_string(orphan) + "\n";
}

SampleRow row(const std::string& time, const std::string& category, const std::string& goods,
              const std::string& direction, const std::string& amount, const std::string& status,
              const std::string& order, const std::string& merchant = "") {
  return {time, category, "示例商家", goods, direction, amount, status, order, merchant};
}

class ImportRules : public ImportTest {
 protected:
  // Imports `rows` as an Alipay export named `name`; the exit status, what it printed in out_.
  int import_alipay(const std::string& db, const std::string& name, const std::vector<SampleRow>& rows) {
    return run({"import", db, write_export(name, alipay_2023_csv(rows))});
  }
  // The last line the last command printed.
  std::string last_line() const {
    const std::string s = out_.str();
    const size_t from = s.rfind('\n', s.size() < 2 ? 0 : s.size() - 2);
    return from == std::string::npos ? s : s.substr(from + 1);
  }
  // Each bill as "类型 金额" (UTF-8, the amount in its shortest form), sorted, and the money they
  // move (收入 minus 支出).
  std::multiset<std::string> sides(const std::string& db, double* net = nullptr) {
    std::multiset<std::string> out;
    double sum = 0;
    for (const std::string& b : bills(db)) {
      const size_t c1 = b.find(','), c2 = b.find(',', c1 + 1);
      const std::string type = b.substr(0, c1), amount = b.substr(c1 + 1, c2 - c1 - 1);
      out.insert(type + " " + shortest_number_text(std::stod(amount)));
      sum += (type == u8("支出") ? -1 : 1) * std::stod(amount);
    }
    if (net) *net = sum;
    return out;
  }
};

TEST_F(ImportRules, ARefundGoesOppositeToThePaymentItRefunds) {
  const std::string db = make_ledger();
  const std::vector<SampleRow> rows = {
      // A sale of 30 and the seller's refund of it (收/支 支出): together they move nothing.
      row("2023-05-01 10:00:00", "其他", "旧书一本", "收入", "30.00", "交易成功",
          "2023050122001400000000000101"),
      row("2023-05-03 09:00:00", "退款", "退款-旧书一本", "支出", "30.00", "退款成功",
          "2023050122001400000000000101_1683075600"),
      // A purchase refunded with 收/支 收入, and one refunded with 不计收支, linked by merchant order.
      row("2023-05-04 12:00:00", "日用百货", "水杯", "支出", "80.00", "交易成功",
          "2023050422001400000000000104", "M0104"),
      row("2023-05-05 12:00:00", "退款", "退款-水杯", "收入", "80.00", "退款成功",
          "2023050422001400000000000104_1683259200", "M0104"),
      row("2023-05-06 12:00:00", "日用百货", "台灯", "支出", "45.00", "交易成功",
          "2023050622001400000000000106", "M0106"),
      row("2023-05-07 12:00:00", "退款", "退款-台灯", "不计收支", "45.00", "退款成功",
          "2023050722001400000000000999", "M0106")};
  ASSERT_EQ(import_alipay(db, "a.csv", rows), 0) << err_.str();
  EXPECT_EQ(last_line(), counts(6, 0, 0, 0));
  double net = 1;
  EXPECT_EQ(sides(db, &net), (std::multiset<std::string>{u8("收入 30"), u8("支出 30"), u8("支出 80"),
                                                         u8("收入 80"), u8("支出 45"), u8("收入 45")}));
  EXPECT_EQ(net, 0);
  // A refund larger than the payment of its merchant order is not that payment's refund.
  const std::string other = make_ledger("other.kdb");
  ASSERT_EQ(import_alipay(other, "b.csv",
                          {row("2023-05-08 12:00:00", "日用百货", "笔", "支出", "20.00", "交易成功",
                               "2023050822001400000000000108", "M0108"),
                           row("2023-05-09 12:00:00", "退款", "退款-笔", "不计收支", "50.00", "退款成功",
                               "2023050922001400000000000998", "M0108")}),
            0)
      << err_.str();
  EXPECT_EQ(last_line(), counts(1, 0, 0, 0, 0, 0, 1));
}

TEST_F(ImportRules, AClosedAttemptNeverStandsInForThePaidOne) {
  // An unpaid attempt closed, then the paid one, both of merchant order M77, and one refund: by
  // merchant order only, and by an order number that begins with the paid one's.
  const SampleRow closed = row("2023-06-01 10:00:00", "数码电器", "耳机", "支出", "50.00", "交易关闭",
                               "2023060122001400000000000201", "M77");
  const SampleRow paid = row("2023-06-01 10:05:00", "数码电器", "耳机", "支出", "50.00", "交易成功",
                             "2023060122001400000000000202", "M77");
  SampleRow by_merchant = row("2023-06-03 10:00:00", "退款", "退款-耳机", "不计收支", "50.00", "退款成功",
                              "2023060322001400000000000299", "M77");
  SampleRow by_order = by_merchant;
  by_order.order = paid.order + "_1685757600";
  by_order.merchant = "";
  int k = 0;
  for (const std::vector<SampleRow>& rows :
       {std::vector<SampleRow>{closed, paid, by_merchant}, std::vector<SampleRow>{paid, by_merchant, closed},
        std::vector<SampleRow>{by_order, closed, paid}}) {
    SCOPED_TRACE(k);
    const std::string db = make_ledger("l" + std::to_string(k++) + ".kdb");
    ASSERT_EQ(import_alipay(db, "a.csv", rows), 0) << err_.str();
    EXPECT_EQ(last_line(), counts(2, 0, 0, 1));
    double net = 1;
    EXPECT_EQ(sides(db, &net), (std::multiset<std::string>{u8("支出 50"), u8("收入 50")}));
    EXPECT_EQ(net, 0);
  }
  // The order number decides before the merchant order: a refund of the closed attempt is not
  // the paid one's, though both share the merchant order.
  SampleRow of_closed = by_merchant;
  of_closed.order = closed.order + "_1685757600";
  const std::string db = make_ledger("order.kdb");
  ASSERT_EQ(import_alipay(db, "a.csv", {closed, paid, of_closed}), 0) << err_.str();
  EXPECT_EQ(last_line(), counts(1, 0, 0, 2));
  EXPECT_EQ(sides(db), (std::multiset<std::string>{u8("支出 50")}));
}

TEST_F(ImportRules, AClosedPaymentAndItsRefundInTwoExportsBookNothing) {
  const SampleRow lunch = row("2023-01-10 12:00:00", "餐饮美食", "午餐", "支出", "20.00", "交易成功",
                              "2023011022001400000000000301");
  const SampleRow closed = row("2023-01-20 10:00:00", "服饰装扮", "外套", "支出", "50.00", "交易关闭",
                               "2023012022001400000000000302", "MJ302");
  const SampleRow refund = row("2023-02-02 10:00:00", "退款", "退款-外套", "不计收支", "50.00", "退款成功",
                               "2023012022001400000000000302_1675303200", "MJ302");
  const SampleRow dinner = row("2023-02-10 19:00:00", "餐饮美食", "晚餐", "支出", "30.00", "交易成功",
                               "2023021022001400000000000303");
  // Month by month: January's closed payment is remembered, February's refund of it is not booked.
  const std::string db = make_ledger();
  ASSERT_EQ(import_alipay(db, "jan.csv", {lunch, closed}), 0) << err_.str();
  EXPECT_EQ(last_line(), counts(1, 0, 0, 1));
  ASSERT_EQ(import_alipay(db, "feb.csv", {refund, dinner}), 0) << err_.str();
  EXPECT_EQ(last_line(), counts(1, 0, 0, 1));
  EXPECT_EQ(sides(db), (std::multiset<std::string>{u8("支出 20"), u8("支出 30")}));
  // The other way round: the refund waits, and the closed payment it waits for never books it.
  const std::string other = make_ledger("other.kdb");
  ASSERT_EQ(import_alipay(other, "feb.csv", {refund, dinner}), 0) << err_.str();
  EXPECT_EQ(last_line(), counts(1, 0, 0, 0, 0, 0, 1));
  ASSERT_EQ(import_alipay(other, "jan.csv", {lunch, closed}), 0) << err_.str();
  EXPECT_EQ(last_line(), counts(1, 0, 0, 1));
  ASSERT_EQ(import_alipay(other, "both.csv", {lunch, closed, refund, dinner}), 0) << err_.str();
  EXPECT_EQ(last_line(), counts(0, 2, 0, 2));
  EXPECT_EQ(sides(other), (std::multiset<std::string>{u8("支出 20"), u8("支出 30")}));
}

TEST_F(ImportRules, ARefundIsBookedWhenItsPaymentArrivesInAnyExport) {
  // A finished payment of 100, 30 of it refunded in the next month's export.
  const SampleRow payment = row("2023-03-28 15:00:00", "数码电器", "键盘", "支出", "100.00", "交易成功",
                                "2023032822001400000000000401", "MK401");
  const SampleRow refund = row("2023-04-02 09:00:00", "退款", "退款-键盘", "不计收支", "30.00", "退款成功",
                               "2023032822001400000000000401_1680397200", "MK401");
  const std::multiset<std::string> want = {u8("支出 100"), u8("收入 30")};
  const std::string db = make_ledger();
  ASSERT_EQ(import_alipay(db, "mar.csv", {payment}), 0) << err_.str();
  EXPECT_EQ(last_line(), counts(1, 0, 0, 0));
  ASSERT_EQ(import_alipay(db, "apr.csv", {refund}), 0) << err_.str();
  EXPECT_EQ(last_line(), counts(1, 0, 0, 0));
  EXPECT_EQ(sides(db), want);
  // Refund first: it waits in the log and is booked, with its own time and remark, with the payment.
  const std::string other = make_ledger("other.kdb");
  ASSERT_EQ(import_alipay(other, "apr.csv", {refund}), 0) << err_.str();
  EXPECT_EQ(last_line(), counts(0, 0, 0, 0, 0, 0, 1));
  EXPECT_TRUE(bills(other).empty());
  ASSERT_EQ(import_alipay(other, "mar.csv", {payment}), 0) << err_.str();
  EXPECT_EQ(last_line(), counts(2, 0, 0, 0));
  EXPECT_EQ(sides(other), want);
  const std::vector<std::string> got = bills(other);
  EXPECT_EQ(
      std::count(got.begin(), got.end(), u8("收入,30.00,支付宝,2023-04-02 09:00:00,示例商家 · 退款-键盘\r")),
      1);
  for (const char* again : {"apr.csv", "mar.csv"}) {
    ASSERT_EQ(run({"import", other, path(again)}), 0) << err_.str();
    EXPECT_EQ(last_line(), counts(0, 1, 0, 0));
  }
  EXPECT_EQ(sides(other), want);
}

TEST_F(ImportRules, OnlyTradesInWhichMoneyMovedAreBooked) {
  const std::string db = make_ledger();
  const std::vector<SampleRow> rows = {
      row("2023-07-01 10:00:00", "日用百货", "待付", "支出", "11.00", "等待付款",
          "2023070122001400000000000501"),
      row("2023-07-01 10:01:00", "日用百货", "处理", "支出", "12.00", "处理中",
          "2023070122001400000000000502"),
      row("2023-07-01 10:02:00", "日用百货", "空", "支出", "13.00", "", "2023070122001400000000000503"),
      row("2023-07-01 10:03:00", "退款", "退款中", "不计收支", "14.00", "退款中",
          "2023070122001400000000000503_1"),
      row("2023-07-01 10:04:00", "日用百货", "担保", "支出", "15.00", "等待确认收货",
          "2023070122001400000000000505"),
      row("2023-07-01 10:05:00", "日用百货", "成功", "支出", "16.00", "交易成功",
          "2023070122001400000000000506"),
      row("2023-07-01 10:06:00", "日用百货", "奇怪", "支出", "17.00", "神秘状态",
          "2023070122001400000000000507"),
      row("2023-07-01 10:07:00", "其他", "奇怪", "收入", "18.00", "另一种", "2023070122001400000000000508")};
  const std::string text = alipay_2023_csv(rows);
  const int first = 2 + static_cast<int>(std::count(
                            text.begin(), text.begin() + static_cast<long>(text.find("交易时间,")), '\n'));
  ASSERT_EQ(run({"import", db, write_export("a.csv", text)}), 0) << err_.str();
  EXPECT_EQ(last_line(), counts(2, 0, 0, 0, 4, 2));
  EXPECT_NE(out_.str().find("line " + std::to_string(first + 6) + u8(": 交易状态 '神秘状态'")),
            std::string::npos)
      << out_.str();
  EXPECT_NE(out_.str().find("line " + std::to_string(first + 7) + u8(": 交易状态 '另一种'")),
            std::string::npos)
      << out_.str();
  EXPECT_EQ(sides(db), (std::multiset<std::string>{u8("支出 15"), u8("支出 16")}));
  // WeChat Pay's words for the same.
  std::vector<SampleRow> wechat = {{"2023-07-02 10:00:00", "商户消费", "示例超市", "商品B", "支出", "21.00",
                                    "待支付", "4200001000202307021", "1"},
                                   {"2023-07-02 10:01:00", "商户消费", "示例超市", "商品C", "支出", "22.00",
                                    "支付中", "4200001000202307022", "2"},
                                   {"2023-07-02 10:02:00", "转账", "李小红", "转账", "收入", "23.00",
                                    "已收钱", "1000050001202307023", "/"},
                                   {"2023-07-02 10:03:00", "转账", "李小红", "转账", "支出", "24.00",
                                    "已转账", "1000050001202307024", "/"}};
  ASSERT_EQ(run({"import", db, write_export("w.csv", wechat_csv(wechat))}), 0) << err_.str();
  EXPECT_EQ(last_line(), counts(2, 0, 0, 0, 2, 0));
}

TEST_F(ImportRules, RowsWithoutAnOrderNumberAreNeverMerged) {
  const SampleRow ride = row("2023-08-01 08:00:00", "交通出行", "公交车费", "支出", "3.00", "交易成功", "");
  const std::string db = make_ledger();
  ASSERT_EQ(import_alipay(db, "two.csv", {ride, ride}), 0) << err_.str();
  EXPECT_EQ(last_line(), counts(2, 0, 0, 0));
  ASSERT_EQ(import_alipay(db, "two.csv", {ride, ride}), 0) << err_.str();
  EXPECT_EQ(last_line(), counts(0, 2, 0, 0));
  ASSERT_EQ(import_alipay(db, "three.csv", {ride, ride, ride}), 0) << err_.str();
  EXPECT_EQ(last_line(), counts(1, 2, 0, 0));
  EXPECT_EQ(bills(db).size(), 3u);
  // Rows with the same order number, time, amount and side are one bill.
  const SampleRow twice =
      row("2023-08-02 08:00:00", "交通出行", "地铁", "支出", "4.00", "交易成功", "2023080222");
  ASSERT_EQ(import_alipay(db, "dup.csv", {twice, twice}), 0) << err_.str();
  EXPECT_EQ(last_line(), counts(1, 1, 0, 0));
  // The same order number, time and amount on the other side is another bill.
  SampleRow other_side = twice;
  other_side.direction = "收入";
  ASSERT_EQ(import_alipay(db, "sides.csv", {twice, other_side}), 0) << err_.str();
  EXPECT_EQ(last_line(), counts(1, 1, 0, 0));
}

TEST_F(ImportRules, AnEmptyFileIsNotAnExport) {
  const std::string db = make_ledger();
  const std::string before = read_bytes(db);
  for (const std::string& file : {write_export("empty.csv", ""), std::string("/dev/null")}) {
    EXPECT_EQ(run({"import", db, file}), 1) << file;
    EXPECT_NE(err_.str().find(file + ": "), std::string::npos) << err_.str();
    EXPECT_NE(err_.str().find("not an export"), std::string::npos) << err_.str();
  }
  EXPECT_EQ(read_bytes(db), before);
}

}  // namespace
}  // namespace pennacle
