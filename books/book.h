// One load of the ledger as the second window shows it: the live bills with their categories, the
// names of the categories the ledger knows, and what an edit must know of the table.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "books/book_rows.h"
#include "ledger/bill.h"
#include "platform/status.h"

namespace pennacle {

struct Book {
  BookRows rows;
  std::vector<std::string> category_names;  // GBK, in the category file's order
  BillTable table;                          // field widths and the remark limit, for the edit dialog
};

// Called now and then during a load with the records walked and their count.
using LoadProgress = std::function<void(int32_t done, int32_t total)>;

// Reads the ledger `ledger_utf8` (opened read-only and closed again) and its category file.
// Store failures and a damaged category file are failures, naming the file. Must run on the thread
// that owns the store in this process (BookStore's).
Result<std::shared_ptr<const Book>> load_book(const std::string& ledger_utf8, const LoadProgress& progress);

}  // namespace pennacle
