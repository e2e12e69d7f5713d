// kdbtool export: the records as CSV, or the ledger's bills as a beancount, hledger or ledger journal.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

#include "ledger/journal_bills.h"
#include "platform/status.h"

namespace pennacle {

// --from DATE and --to DATE (both days included) as a range; Invalid with what is wrong. Other
// arguments are left in `rest`.
Result<DateRange> parse_date_range(const std::vector<std::string>& args, std::vector<std::string>* rest);

int kdbtool_export(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace pennacle
