// The import's plan: what the ledger holds (by the import log, then by values) and what to add.
// Compiled with UTF-8 literals, as the rest of the import.
#include "ledger/import/import_plan.h"

#include <algorithm>
#include <climits>
#include <tuple>
#include <unordered_map>

#include "runtime/value.h"
#include "store/record_store.h"

namespace pennacle {
namespace {

// The remark a paired row (or a remembered refund) books, a view of its row or entry cut to what the
// table takes; a cut one is noted.
std::string_view booked_remark(const LoggedPairedBill& pb, const BillTable& table,
                               std::vector<RowNote>* notices) {
  std::string_view remark = pb.row ? std::string_view(pb.row->remark) : pb.waiting->remark;
  if (cut_remark(table, &remark)) {
    notices->push_back({pb.line, "the remark is cut to " + std::to_string(remark.size()) + " bytes"});
  }
  return remark;
}

// The bill a paired row (or a remembered refund) books, with its remark from booked_remark.
ImportedBill booked_bill(const LoggedPairedBill& pb, const std::string& channel, std::string_view remark) {
  ImportedBill out;
  Bill& bill = out.bill;
  const ExportBill* row = pb.row;
  const LoggedEntry* w = pb.waiting;
  out.line = pb.line;
  bill.type = pb.income ? income_type() : expense_type();
  bill.amount = row ? row->amount : w->key.amount;
  bill.channel = row ? std::string_view(channel) : w->channel;
  bill.time = row ? row->time : w->key.time;
  bill.remark = remark;
  return out;
}

// The intent entry of a bill to add (or of one found by its values).
void planned_entry(const LoggedPairedBill& pb, PlannedBill* p) {
  const ExportBill* row = pb.row;
  const LoggedEntry* w = pb.waiting;
  const Bill& bill = p->bill.bill;
  p->entry.kind = ImportEntry::Kind::Intent;
  p->entry.key = row ? ImportKey{row->order, row->time, row->amount}
                     : ImportKey{std::string(w->key.order), w->key.time, w->key.amount};
  p->entry.income = pb.income;
  p->entry.fingerprint = bill_fingerprint(bill.type, bill.channel, bill.remark);
  p->entry.merchant = row ? std::string_view(row->merchant) : w->merchant;
  p->entry.refund = pb.refund;
}

// A paired bill's key, a view of its row or remembered entry.
SidedKeyRef paired_key(const LoggedPairedBill& pb) {
  if (pb.row) return {{pb.row->order, pb.row->time, pb.row->amount}, pb.income};
  return {pb.waiting->key, pb.income};
}

// Keeps the last record of each serial, in ascending order: a later record of a serial read twice
// stands for it.
void order_by_serial(std::vector<RecordFacts>* live) {
  auto by_serial = [](const RecordFacts& a, const RecordFacts& b) { return a.serial < b.serial; };
  if (std::is_sorted(live->begin(), live->end(), by_serial) &&
      std::adjacent_find(live->begin(), live->end(), [](const RecordFacts& a, const RecordFacts& b) {
        return a.serial == b.serial;
      }) == live->end()) {
    return;
  }
  std::stable_sort(live->begin(), live->end(), by_serial);
  std::vector<RecordFacts> kept;
  kept.reserve(live->size());
  for (size_t i = 0; i < live->size(); ++i) {
    if (i + 1 < live->size() && (*live)[i + 1].serial == (*live)[i].serial) continue;
    kept.push_back(std::move((*live)[i]));
  }
  *live = std::move(kept);
}

// A live record's values as an open intent names them.
struct IntentValues {
  double time = 0, amount = 0;
  bool income = false;
  uint64_t fingerprint = 0;
  bool operator==(const IntentValues&) const = default;
};

struct IntentValuesHash {
  size_t operator()(const IntentValues& v) const {
    return mix_double(mix_double(v.fingerprint, v.time), v.amount) * 2 + v.income;
  }
};

}  // namespace

void order_facts(LedgerFacts* facts) {
  order_by_serial(&facts->live);
  facts->index.clear();
  // An index by serial when it costs no more than a few times the records themselves.
  const std::vector<RecordFacts>& live = facts->live;
  if (live.empty() || live.front().serial < 0 ||
      live.back().serial / 4 > static_cast<int64_t>(live.size()) + 1024)
    return;
  facts->index.assign(static_cast<size_t>(live.back().serial) + 1, 0);
  for (size_t i = 0; i < live.size(); ++i)
    facts->index[static_cast<size_t>(live[i].serial)] = static_cast<int32_t>(i + 1);
}

ptrdiff_t LedgerFacts::find(int32_t serial) const {
  if (!index.empty()) {
    return serial >= 0 && static_cast<size_t>(serial) < index.size()
               ? ptrdiff_t{index[static_cast<size_t>(serial)]} - 1
               : -1;
  }
  auto it = std::lower_bound(live.begin(), live.end(), serial,
                             [](const RecordFacts& f, int32_t s) { return f.serial < s; });
  return it != live.end() && it->serial == serial ? it - live.begin() : -1;
}

// Walks the ledger, reading each live record once; fingerprints for serials above
// `fingerprints_after`. Returns 0 or a store code.
DbCode walk_ledger(int32_t fingerprints_after, LedgerFacts* out) {
  const int32_t count = call_command(db_record_count, {}).int_payload();
  DbCode rc = db_last_error();
  call_command(db_go_first, {});
  out->live.reserve(static_cast<size_t>(std::max(count, 0)));
  for (int32_t k = 0; k < count && rc == DbCode::Ok; ++k) {
    // One read gives the serial and, for a live record, its fields; the table was checked when the
    // ledger was opened, so every field has a kind a bill takes. The remark only where it is needed.
    Bill bill;
    std::ignore = read_current_live_bill(&bill, BillParts::WithoutRemark);
    if ((rc = db_last_error()) != DbCode::Ok) break;
    if (bill.serial > fingerprints_after) {
      std::ignore = read_current_live_bill(&bill);  // the whole record again, as it is now
      if ((rc = db_last_error()) != DbCode::Ok) break;
    }
    const int32_t serial = bill.serial;
    out->highest_serial = std::max(out->highest_serial, serial < 0 ? -serial : serial);
    if (serial > 0) {
      RecordFacts f{serial, bill.time, bill.amount, !bill.is_expense(), std::move(bill.channel), 0};
      if (serial > fingerprints_after) f.fingerprint = bill_fingerprint(bill.type, f.channel, bill.remark);
      out->live.push_back(std::move(f));
    }
    std::ignore = db_skip_within(count);  // a failed step fails the next read
  }
  order_facts(out);
  return rc;
}

// Intents that no later done entry of the same key answers: imports cut short between the two. An
// import appends a group's intents in a run, then the group's done entries in the same order, so an
// intent's answer usually stands as far after it as its run is long: it is looked for there first,
// and only an intent not answered there is looked up among all done entries (a table made when
// first needed).
std::vector<const LoggedEntry*> open_intents(std::span<const LoggedEntry> log) {
  std::vector<const LoggedEntry*> open;
  FlatTable<ImportKeyRef, size_t, ImportKeyHash> last_done;  // each key's last done entry
  bool made = false;
  const auto answered_later = [&](size_t i) {
    if (!made) {
      last_done.reserve(static_cast<size_t>(std::count_if(
          log.begin(), log.end(), [](const LoggedEntry& e) { return e.kind == ImportEntry::Kind::Done; })));
      for (size_t j = 0; j < log.size(); ++j) {
        if (log[j].kind == ImportEntry::Kind::Done) *last_done.try_emplace(log[j].key, j).first = j;
      }
      made = true;
    }
    const size_t* last = last_done.find(log[i].key);
    return last && *last > i;
  };
  for (size_t i = 0; i < log.size();) {
    if (log[i].kind != ImportEntry::Kind::Intent) {
      ++i;
      continue;
    }
    size_t end = i;
    while (end < log.size() && log[end].kind == ImportEntry::Kind::Intent) ++end;
    for (const size_t run = end - i; i < end; ++i) {
      const size_t j = i + run;
      const bool there = j < log.size() && log[j].kind == ImportEntry::Kind::Done && log[j].key == log[i].key;
      if (!there && !answered_later(i)) open.push_back(&log[i]);
    }
  }
  return open;
}

namespace {

// An open intent: the bill's record, if it was written, is the first unclaimed one above the
// serial the intent names that holds the same values.
void settle_open_intents(const std::vector<const LoggedEntry*>& open, const LedgerFacts& ledger,
                         const BillTable& table, Presence* p) {
  if (open.empty()) return;
  // Indexes of the records in ascending order of their serials.
  std::unordered_map<IntentValues, std::vector<size_t>, IntentValuesHash> by_values;
  for (size_t i = 0; i < ledger.live.size(); ++i) {
    const RecordFacts& f = ledger.live[i];
    by_values[{f.time, f.amount, f.income, f.fingerprint}].push_back(i);
  }
  for (const LoggedEntry* e : open) {
    auto found =
        by_values.find({e->key.time, stored_amount(table, e->key.amount), e->income, e->fingerprint});
    if (found == by_values.end()) continue;
    const std::vector<size_t>& at = found->second;
    auto it = std::upper_bound(at.begin(), at.end(), e->serial,
                               [&](int32_t s, size_t i) { return s < ledger.live[i].serial; });
    for (; it != at.end(); ++it) {
      if (p->claimed[*it]) continue;
      p->claimed[*it] = true;
      const int32_t serial = ledger.live[*it].serial;
      p->present.put({e->key, e->income}, serial);
      ImportEntry done = e->entry();
      done.kind = ImportEntry::Kind::Done;
      done.serial = serial;
      p->settled.push_back(std::move(done));
      break;
    }
  }
}

}  // namespace

// A done entry claims its record while the record holds the entry's time, amount and side and no
// other entry claimed it first: after a restore, serials are handed out again to other bills.
Presence resolve(std::span<const LoggedEntry> log, const std::vector<const LoggedEntry*>& open,
                 const LedgerFacts& ledger, const BillTable& table, size_t rows) {
  Presence p;
  p.claimed.assign(ledger.live.size(), false);
  p.present.reserve(ledger.live.size() + rows);
  for (const LoggedEntry& e : log) {
    if (e.kind != ImportEntry::Kind::Done) continue;
    const ptrdiff_t i = ledger.find(e.serial);
    if (i < 0 || p.claimed[static_cast<size_t>(i)]) continue;
    const RecordFacts& f = ledger.live[static_cast<size_t>(i)];
    if (f.time == e.key.time && f.amount == stored_amount(table, e.key.amount) && f.income == e.income) {
      p.present.put({e.key, e.income}, e.serial);
      p.claimed[static_cast<size_t>(i)] = true;
    }
  }
  settle_open_intents(open, ledger, table, &p);
  return p;
}

// The second line of defence, for bills the log does not know (it was lost, or rebuilt): live
// records no log entry claims, by time, amount, side and channel; each answers for one row.
Unclaimed unclaimed_records(const LedgerFacts& ledger, const Presence& p) {
  Unclaimed out;
  for (size_t i = 0; i < ledger.live.size(); ++i) {
    const RecordFacts& f = ledger.live[i];
    if (!p.claimed[i]) out.put({f.time, f.amount, f.income, f.channel}, f.serial);
  }
  return out;
}

// The bills to book, split into those to add and those the ledger holds: by the log first, then
// by their values. Rows with the same non-empty order number, time, amount and side are one bill;
// rows without an order number are never one.
Plan plan(const LoggedPairing& pairing, const BillTable& table, Presence& presence, Unclaimed unclaimed,
          const std::string& channel, const ExportRead& read, const CategoryRules* rules,
          std::vector<RowNote>* notices) {
  Plan out;
  presence.present.reserve(presence.present.size() + pairing.book.size());
  out.add.reserve(pairing.book.size());
  out.there.reserve(pairing.book.size());
  ExportCategoryTexts texts;
  constexpr size_t kAhead = 8;  // rows whose keys are looked up early: the lookups miss the cache
  for (size_t i = 0; i < pairing.book.size(); ++i) {
    if (i + kAhead < pairing.book.size()) presence.present.prefetch(paired_key(pairing.book[i + kAhead]));
    const LoggedPairedBill& pb = pairing.book[i];
    const std::string_view remark = booked_remark(pb, table, notices);
    // The rules read the whole bill; without them it is made only for a row to add (a re-import finds
    // nearly every row there).
    ImportedBill bill;
    if (rules) bill = booked_bill(pb, channel, remark);
    ImportCategory category = export_row_category(rules, read.source, pb.row, bill.bill, &texts);
    if (category.ignore) {
      ++out.ignored;
      continue;
    }
    // Rows with the same non-empty order number, time, amount and side are one bill.
    const SidedKeyRef key = paired_key(pb);
    const bool merges = !key.key.order.empty();
    int32_t serial = 0;
    const auto met = presence.present.meet(key, !merges, &serial);
    if (merges && met.again) {
      ++out.already;
      continue;
    }
    if (met.taken) {
      out.there.push_back(
          {{serial, key.key.time, stored_amount(table, key.key.amount), key.income}, std::move(category)});
      ++out.already;
      continue;
    }
    if (!rules) bill = booked_bill(pb, channel, remark);
    PlannedBill p{std::move(bill), {}, std::move(category)};
    planned_entry(pb, &p);
    const Bill& b = p.bill.bill;
    if (unclaimed.take({b.time, stored_amount(table, b.amount), !b.is_expense(), b.channel}, &serial)) {
      p.entry.kind = ImportEntry::Kind::Done;
      p.entry.serial = serial;
      out.there.push_back({stored_category_key(table, serial, b), std::move(p.category)});
      out.found.push_back(std::move(p.entry));
      ++out.already;
      continue;
    }
    out.add.push_back(std::move(p));
  }
  return out;
}

// The lowest serial an open intent names: records above it may settle it.
int32_t lowest_open_intent(const std::vector<const LoggedEntry*>& open) {
  int32_t lowest = INT32_MAX;
  for (const LoggedEntry* e : open) lowest = std::min(lowest, e->serial);
  return lowest;
}

}  // namespace pennacle
