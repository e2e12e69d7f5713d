// Which bills the 账单 view shows: a period, a side, a channel, a category, an amount range and a
// search text, all of which a row must meet. Texts are GBK.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "books/book_rows.h"
#include "ledger/journal_bills.h"

namespace pennacle {

enum class SideFilter { Any, Expense, Income };

struct BillFilter {
  DateRange period;  // unbounded: 全部
  SideFilter side = SideFilter::Any;
  std::optional<std::string> channel;            // exactly this channel
  std::optional<std::string> category;           // this category or one below it (餐饮 takes 餐饮:午餐)
  bool category_alone = false;                   // this category only: a statistics row counts it alone
  std::optional<double> min_amount, max_amount;  // inclusive
  // Matched, ignoring ASCII case, in the remark (which holds the counterpart and goods of an
  // imported bill), the channel and the category; empty matches every row.
  std::string search;

  bool operator==(const BillFilter&) const = default;
};

// The rows of `rows` (indexes into it) that `filter` lets through, in row order.
std::vector<uint32_t> filter_rows(const BookRows& rows, const BillFilter& filter);

// What the footer shows of the rows shown. Amounts that are no finite number count as bills and
// stay out of the sums, as in the ledger window's status bar. Added in the order of `shown`: give
// rows in row (record) order for the sums build_report and the statistics make of the same bills.
struct BillSums {
  int32_t count = 0;
  double expense = 0;
  double income = 0;
  double balance() const { return income - expense; }
};
BillSums sum_rows(const BookRows& rows, const std::vector<uint32_t>& shown);

}  // namespace pennacle
