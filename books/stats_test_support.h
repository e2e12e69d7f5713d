// A ledger for the statistics' tests: a few hundred bills over 2023 and 2024 (amounts such as 0.1,
// 0.2 and 0.3 whose sums depend on their order, bills on the last second of a month and the first of
// the next, one NaN and one infinite amount written through the store), most of them with a
// category in the category file. Texts are GBK; this header is only included by UTF-8 tests.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "ledger/bill.h"
#include "ledger/categories.h"
#include "platform/file.h"
#include "platform/gbk.h"
#include "runtime/commands.h"
#include "runtime/convert.h"
#include "store/record_store.h"
#include "store/test_support.h"

namespace pennacle::testing {

inline std::string gbk(const std::string& utf8) { return utf8_to_gbk(utf8).value_or(utf8); }

inline std::vector<Bill> stats_bills() {
  static const double kAmounts[] = {0.1, 0.2, 0.3, 19.99, 0.07, 1234.56, 3.3, 0.01, 88.8, 12.34};
  static const char* const kChannels[] = {"现金", "支付宝", "微信", "银行卡"};
  std::vector<Bill> bills;
  uint32_t x = 2463534242u;  // xorshift: months, sides and channels that do not follow one another
  auto next = [&x](uint32_t n) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    return static_cast<int>(x % n);
  };
  for (int i = 0; i < 360; ++i) {
    Bill b;
    b.type = std::string(next(3) ? expense_type() : income_type());
    b.amount = kAmounts[next(10)] + next(7) * 0.01;
    b.channel = gbk(kChannels[next(4)]);
    b.time = make_date_time(2023 + next(2), 1 + next(12), 1 + next(28), next(24), next(60), next(60));
    b.remark = "r" + std::to_string(i);
    bills.push_back(b);
  }
  // The edges of months and years, and amounts no sum may take in.
  const double edges[] = {make_date_time(2024, 3, 31, 23, 59, 59), make_date_time(2024, 4, 1),
                          make_date_time(2023, 12, 31, 23, 59, 59), make_date_time(2024, 1, 1)};
  for (double t : edges) bills.push_back({0, std::string(expense_type()), 0.1, gbk("现金"), t, ""});
  bills.push_back({0, std::string(expense_type()), std::numeric_limits<double>::quiet_NaN(), gbk("现金"),
                   make_date_time(2024, 3, 9, 8), "nan"});
  bills.push_back({0, std::string(income_type()), std::numeric_limits<double>::infinity(), gbk("支付宝"),
                   make_date_time(2023, 7, 2, 8), "inf"});
  return bills;
}

// Writes `bills` to the ledger `path` (made before, closed) and gives every fifth one no category.
inline void fill_stats_ledger(const std::string& path, const std::vector<Bill>& bills) {
  static const char* const kCategories[] = {"餐饮", "交通", "餐饮:午餐", "工资", "购物", "医疗"};
  ASSERT_TRUE(open_db(path));
  std::vector<int32_t> serials;
  ASSERT_EQ(append_bills(bills, &serials), DbCode::Ok);
  close_db(path);
  ASSERT_EQ(serials.size(), bills.size());
  std::vector<CategoryEntry> entries;
  for (size_t i = 0; i < bills.size(); ++i) {
    if (i % 5 == 0 || !std::isfinite(bills[i].amount)) continue;
    entries.push_back({category_key(serials[i], bills[i]), gbk(kCategories[i * 7 / 3 % 6]), i % 2 == 0});
  }
  CategoryFile categories;
  ASSERT_TRUE(categories.open(posix_file_system(), categories_path(path), true).ok());
  const Status written = categories.update(entries, nullptr);
  ASSERT_TRUE(written.ok()) << written.message();
}

}  // namespace pennacle::testing
