// Fixing a bill in place: its 类型, 金额, 付款方式, 时间 and 备注 change, its serial and its place in
// the file stay (db_edit). Texts are GBK; messages are UTF-8 for the terminal.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "ledger/bill.h"
#include "platform/status.h"

namespace pennacle {

// What an edit changes; a part left unset keeps the bill's value.
struct BillChange {
  std::optional<std::string> type, channel, remark;  // GBK
  std::optional<double> amount, time;

  bool empty() const { return !type && !channel && !remark && !amount && !time; }
};

struct BillEdit {
  Bill before, after;  // as read from the file just before and just after the edit
  // The bill's category follows it when the edit changes its time, amount or side. When that write
  // fails the edit stands and the bill shows 未分类 until its category is set again: this says why.
  Status category;
  // Its method account (ledger/method_accounts.h) follows it the same way; this says why it did not.
  Status method_account;
};

// Makes the record of the bill with `serial` the current one. NotFound, naming the serial, when the
// ledger has no such bill or it is deleted; a store failure as its Status.
Status go_to_bill(int32_t serial);

// The bill `change` makes of `bill`, when it passes the rules a new bill passes (bill_valid) and fits
// the table: a type or channel longer than its text field, or a remark over the table's limit, is
// refused rather than cut. Invalid with what is wrong otherwise.
Result<Bill> changed_bill(const BillTable& table, const Bill& bill, const BillChange& change);

// Edits the bill with `serial` in the current database, which must be a ledger opened for writing.
// An edit of the time, amount or side first takes the category file's lock and then, when there is
// one, the method account file's (as every writer of a side file does, before any record lock); a
// damaged category or method account file refuses such an edit.
// Only the parts `change` sets are written, so another program's change to the others stays. Another
// program holding the bill gives the store's lock code (after the wait time), and nothing changes.
Result<BillEdit> edit_bill(int32_t serial, const BillChange& change);

}  // namespace pennacle
