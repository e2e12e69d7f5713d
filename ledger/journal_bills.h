// Bills as a journal or a report sees them: the bill, its category, and the counterpart and goods
// when they are known. Texts are GBK, as the ledger keeps them.
#pragma once

#include <cstdint>
#include <functional>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ledger/bill.h"
#include "platform/status.h"

namespace pennacle {

struct JournalBill {
  Bill bill;                // its serial is the record's
  std::string category;     // uncategorized() until a lookup gives one
  std::string counterpart;  // empty when not known
  std::string goods;        // empty when not known
};

// Moments from `from` (inclusive) to `to` (exclusive), date-time values; unbounded by default.
struct DateRange {
  double from = -std::numeric_limits<double>::infinity();
  double to = std::numeric_limits<double>::infinity();
  bool contains(double t) const { return t >= from && t < to; }
  bool operator==(const DateRange&) const = default;
};

// The live bills of the current database whose time lies in `range`, in record order, each with
// the default category. Invalid, naming the record and the field, when a record holds a value a
// bill cannot have; a store failure as its Status.
Result<std::vector<JournalBill>> read_ledger_bills(const DateRange& range);

// A bill's category (GBK), or nullopt when none is recorded for it.
using CategoryLookup = std::function<std::optional<std::string>(const Bill&)>;

// Gives each bill the category `lookup` knows for it; the others keep the default.
void fill_categories(std::vector<JournalBill>* bills, const CategoryLookup& lookup);

// The current ledger's own categories: its category file (read, never made), each bill's entry
// checked against the bill's time, amount and side. A damaged file is its failure.
Result<CategoryLookup> ledger_categories();

}  // namespace pennacle
