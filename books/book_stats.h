// The figures of the 统计 view: a year's 支出 and 收入 per month, and where the money went by
// category and by channel in that year or one of its months. They are build_report's rows, added by
// its own step in record order, so they equal `kdbtool report` and the ledger window's status sums
// for the same bills to the bit. Keys are GBK, months "2023-03".
#pragma once

#include <vector>

#include "books/book_rows.h"
#include "ledger/journal_bills.h"
#include "ledger/report.h"

namespace pennacle {

struct BookStats {
  int year = 0;
  int month = 0;       // the scope of the two reports below: 1..12, or 0 for the whole year
  Report by_month;     // 12 rows, empty months too; its total is the year's
  Report by_category;  // of the scope, in build_report's order; its total is the scope's
  Report by_channel;
};

// The figures of `year` with category and channel for `month` (0: the whole year), in one pass over
// the rows. A bill's month is the one its time reads as, to the second.
BookStats book_stats(const BookRows& rows, int year, int month);

// The years some bill falls in, rising.
std::vector<int> book_years(const BookRows& rows);

}  // namespace pennacle
