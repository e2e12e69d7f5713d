// The import's plan: what the ledger holds (by the import log, then by values) and what to add.
// Compiled with UTF-8 literals, as the rest of the import.
#include "ledger/import/import_plan.h"

#include <algorithm>
#include <climits>

#include "runtime/value.h"
#include "store/record_store.h"

namespace pennacle {
namespace {

// The bill a paired row (or a remembered refund) books, with its intent entry.
PlannedBill planned_bill(const PairedBill& pb, const BillTable& table, const std::string& channel,
                         std::vector<RowNote>* notices) {
  PlannedBill p;
  Bill& bill = p.bill.bill;
  const ExportBill* row = pb.row;
  const ImportEntry* w = pb.waiting;
  p.bill.line = pb.line;
  bill.type = pb.income ? income_type() : expense_type();
  bill.amount = row ? row->amount : w->key.amount;
  bill.channel = row ? channel : w->channel;
  bill.time = row ? row->time : w->key.time;
  bill.remark = row ? row->remark : w->remark;
  if (cut_remark(table, &bill.remark)) {
    notices->push_back({pb.line, "the remark is cut to " + std::to_string(bill.remark.size()) + " bytes"});
  }
  p.entry.kind = ImportEntry::Kind::Intent;
  p.entry.key = row ? ImportKey{row->order, row->time, row->amount} : w->key;
  p.entry.income = pb.income;
  p.entry.fingerprint = bill_fingerprint(bill.type, bill.channel, bill.remark);
  p.entry.merchant = row ? row->merchant : w->merchant;
  p.entry.refund = pb.refund;
  return p;
}

}  // namespace

// Walks the ledger, reading each live record once; fingerprints for serials above
// `fingerprints_after`. Returns 0 or a store code.
DbCode walk_ledger(int32_t fingerprints_after, LedgerFacts* out) {
  const int32_t count = call_command(db_record_count, {}).int_payload();
  DbCode rc = db_last_error();
  call_command(db_go_first, {});
  for (int32_t k = 0; k < count && rc == DbCode::Ok; ++k) {
    int32_t serial = 0;
    if ((rc = db_current_serial(&serial)) != DbCode::Ok) break;
    out->highest_serial = std::max(out->highest_serial, serial < 0 ? -serial : serial);
    if (serial > 0) {
      Bill bill;
      // The table was checked when the ledger was opened: every field has a kind a bill takes.
      std::ignore =
          read_current_bill(&bill, serial > fingerprints_after ? BillParts::All : BillParts::WithoutRemark);
      if ((rc = db_last_error()) != DbCode::Ok) break;
      RecordFacts f{bill.time, bill.amount, !bill.is_expense(), std::move(bill.channel), 0};
      if (serial > fingerprints_after) f.fingerprint = bill_fingerprint(bill.type, f.channel, bill.remark);
      out->live[serial] = std::move(f);
    }
    call_command(db_skip, {});
  }
  return rc;
}

// Intents that no later done entry of the same key answers: imports cut short between the two.
std::vector<const ImportEntry*> open_intents(const std::vector<ImportEntry>& log) {
  std::set<ImportKey> answered;
  std::vector<const ImportEntry*> open;
  for (auto it = log.rbegin(); it != log.rend(); ++it) {
    if (it->kind == ImportEntry::Kind::Done) {
      answered.insert(it->key);
    } else if (it->kind == ImportEntry::Kind::Intent && !answered.count(it->key)) {
      open.push_back(&*it);
    }
  }
  std::reverse(open.begin(), open.end());
  return open;
}

// A done entry claims its record while the record holds the entry's time, amount and side and no
// other entry claimed it first: after a restore, serials are handed out again to other bills.
Presence resolve(const std::vector<ImportEntry>& log, const std::vector<const ImportEntry*>& open,
                 const LedgerFacts& ledger, const BillTable& table) {
  Presence p;
  for (const ImportEntry& e : log) {
    if (e.kind != ImportEntry::Kind::Done) continue;
    auto it = ledger.live.find(e.serial);
    if (it != ledger.live.end() && !p.claimed.count(e.serial) && it->second.time == e.key.time &&
        it->second.amount == stored_amount(table, e.key.amount) && it->second.income == e.income) {
      p.present[{e.key, e.income}].push_back(e.serial);
      p.claimed.insert(e.serial);
    }
  }
  // An open intent: the bill's record, if it was written, is the first unclaimed one above the
  // serial the intent names that holds the same values.
  using Values = std::tuple<double, double, bool, uint64_t>;
  std::map<Values, std::vector<int32_t>> by_values;  // serials in ascending order
  for (const auto& [serial, f] : ledger.live)
    by_values[{f.time, f.amount, f.income, f.fingerprint}].push_back(serial);
  for (const ImportEntry* e : open) {
    auto found =
        by_values.find({e->key.time, stored_amount(table, e->key.amount), e->income, e->fingerprint});
    if (found == by_values.end()) continue;
    for (auto it = std::upper_bound(found->second.begin(), found->second.end(), e->serial);
         it != found->second.end(); ++it) {
      if (!p.claimed.insert(*it).second) continue;
      p.present[{e->key, e->income}].push_back(*it);
      ImportEntry done = *e;
      done.kind = ImportEntry::Kind::Done;
      done.serial = *it;
      p.settled.push_back(done);
      break;
    }
  }
  return p;
}

// The second line of defence, for bills the log does not know (it was lost, or rebuilt): live
// records no log entry claims, by time, amount, side and channel; each answers for one row.
std::map<ValueKey, std::vector<int32_t>> unclaimed_records(const LedgerFacts& ledger, const Presence& p) {
  std::map<ValueKey, std::vector<int32_t>> out;
  for (const auto& [serial, f] : ledger.live) {
    if (!p.claimed.count(serial)) out[{f.time, f.amount, f.income, f.channel}].push_back(serial);
  }
  return out;
}

// The bills to book, split into those to add and those the ledger holds: by the log first, then
// by their values. Rows with the same non-empty order number, time, amount and side are one bill;
// rows without an order number are never one.
Plan plan(const Pairing& pairing, const BillTable& table, Presence presence,
          std::map<ValueKey, std::vector<int32_t>> unclaimed, const std::string& channel,
          const ExportRead& read, const CategoryRules* rules, std::vector<RowNote>* notices) {
  Plan out;
  std::set<SidedKey> seen;
  for (const PairedBill& pb : pairing.book) {
    PlannedBill p = planned_bill(pb, table, channel, notices);
    ImportCategory category = export_row_category(rules, read.source, pb.row, p.bill.bill);
    if (category.ignore) {
      ++out.ignored;
      continue;
    }
    p.category = std::move(category);
    const SidedKey key{p.entry.key, p.entry.income};
    if (!key.first.order.empty() && !seen.insert(key).second) {
      ++out.already;
      continue;
    }
    if (auto it = presence.present.find(key); it != presence.present.end() && !it->second.empty()) {
      out.there.push_back({it->second.back(), p.bill.bill, p.category});
      it->second.pop_back();
      ++out.already;
      continue;
    }
    const Bill& b = p.bill.bill;
    auto same = unclaimed.find({b.time, stored_amount(table, b.amount), !b.is_expense(), b.channel});
    if (same != unclaimed.end() && !same->second.empty()) {
      p.entry.kind = ImportEntry::Kind::Done;
      p.entry.serial = same->second.back();
      same->second.pop_back();
      out.there.push_back({p.entry.serial, p.bill.bill, p.category});
      out.found.push_back(std::move(p.entry));
      ++out.already;
      continue;
    }
    out.add.push_back(std::move(p));
  }
  return out;
}

// The lowest serial an open intent names: records above it may settle it.
int32_t lowest_open_intent(const std::vector<const ImportEntry*>& open) {
  int32_t lowest = INT32_MAX;
  for (const ImportEntry* e : open) lowest = std::min(lowest, e->serial);
  return lowest;
}

}  // namespace pennacle
