// Payments and their refunds, within one export and across exports: which refunds are booked, on
// which side, and which halves the import log must remember.
//
// A refund is booked exactly when the payment it refunds is booked, on the other side: money back
// to the person is 收入, money the person pays back (a seller refunding a buyer) is 支出. A closed
// payment moved no money: neither it nor its refund is booked. A refund is linked to its payment
// by order number first (the refund's begins with the payment's), then by merchant order number
// with an amount no larger than the payment's, a paid payment before a closed attempt. A refund
// whose payment has not been seen waits in the log and is booked when that payment arrives.
#pragma once

#include <span>
#include <string>
#include <vector>

#include "ledger/import/bill_exports.h"
#include "ledger/import/import_log.h"

namespace pennacle {

// One bill the import books (or finds already there). `Entry` is the log's entry type: ImportEntry,
// or LoggedEntry for a log read by ImportLog.
template <typename Entry>
struct PairedBillOf {
  const ExportBill* row = nullptr;  // the export's row; nullptr for a refund the log remembered
  const Entry* waiting = nullptr;   // that remembered refund
  bool income = false;              // the side booked
  bool refund = false;
  int line = 0;  // the row's line; for a remembered refund, its payment's line (0 when not in this export)
};

template <typename Entry>
struct PairingOf {
  std::vector<PairedBillOf<Entry>> book;  // in the export's order; remembered refunds last
  std::vector<ImportEntry> remember;      // closed payments and unbooked refunds the log does not hold yet
  int closed_refunds = 0;                 // refunds of closed payments: counted as failed or closed
  int orphans = 0;                        // refunds without their payment
};

using PairedBill = PairedBillOf<ImportEntry>;
using Pairing = PairingOf<ImportEntry>;
using LoggedPairedBill = PairedBillOf<LoggedEntry>;
using LoggedPairing = PairingOf<LoggedEntry>;

// Settles the pairs of `read` against what `log` remembers. `channel` (GBK) is what the export's
// bills get as 付款方式, kept with a refund that waits. The pairing points into `read` and `log`.
Pairing pair_refunds(const ExportRead& read, const std::vector<ImportEntry>& log, const std::string& channel);
// The same against the entries an ImportLog holds.
LoggedPairing pair_logged_refunds(const ExportRead& read, std::span<const LoggedEntry> log,
                                  const std::string& channel);

}  // namespace pennacle
