// This file is compiled with UTF-8 literals; it compares order numbers only.
#include "ledger/import/import_pairs.h"

#include <algorithm>
#include <span>
#include <string_view>
#include <utility>

#include "ledger/import/flat_table.h"
#include "ledger/import/import_keys.h"

namespace pennacle {
namespace {

constexpr double kAmountSlack = 1e-9;  // amounts are read from decimal text

struct PaymentHalf {
  double amount = 0;
  bool income = false;
  bool booked = false;  // else closed
  int line = 0;
};

// Every payment known, booked or closed, by order number and by merchant order number. Holds views
// of the order numbers of the log's entries and the export's rows.
class PaymentIndex {
 public:
  void reserve(size_t n) {
    by_order_.reserve(n);
    by_merchant_.reserve(n);
    halves_.reserve(n);
  }

  void add(std::string_view order, std::string_view merchant, const PaymentHalf& half) {
    if (!order.empty()) {
      auto [known, fresh] = by_order_.try_emplace(order, half);
      if (!fresh && half.booked && !known->booked) *known = half;  // paid wins over closed
      if (order.size() >= order_lengths_.size()) order_lengths_.resize(order.size() + 1);
      order_lengths_[order.size()] = true;
    }
    if (merchant.empty()) return;
    // Each merchant order number's payments in the order they were added.
    halves_.push_back({half, kNone});
    const auto at = static_cast<int32_t>(halves_.size() - 1);
    auto [chain, fresh] = by_merchant_.try_emplace(merchant, Chain{at, at});
    if (!fresh) chain->last = halves_[static_cast<size_t>(chain->last)].next = at;
  }

  // The payment a refund refunds, or nullptr.
  const PaymentHalf* link(std::string_view order, std::string_view merchant, double amount) const {
    // Only lengths some payment's order number has: a long order number costs no lookup per byte.
    for (size_t n = std::min(order.size(), order_lengths_.size() - 1); n > 0; --n) {
      if (!order_lengths_[n]) continue;
      if (const PaymentHalf* half = by_order_.find(order.substr(0, n))) return half;
    }
    if (merchant.empty()) return nullptr;
    const Chain* chain = by_merchant_.find(merchant);
    if (!chain) return nullptr;
    const PaymentHalf* closed = nullptr;
    for (int32_t at = chain->first; at != kNone; at = halves_[static_cast<size_t>(at)].next) {
      const PaymentHalf& h = halves_[static_cast<size_t>(at)].half;
      if (h.amount + kAmountSlack < amount) continue;
      if (h.booked) return &h;
      closed = closed ? closed : &h;
    }
    return closed;
  }

 private:
  static constexpr int32_t kNone = -1;
  struct Chained {
    PaymentHalf half;
    int32_t next;
  };
  struct Chain {
    int32_t first = kNone, last = kNone;
  };
  using Views = std::hash<std::string_view>;
  FlatTable<std::string_view, PaymentHalf, Views> by_order_;
  std::vector<bool> order_lengths_ = {false};  // [n]: some order number has n bytes
  FlatTable<std::string_view, Chain, Views> by_merchant_;
  std::vector<Chained> halves_;
};

// A remembered half: its key and merchant.
struct HalfRef {
  ImportKeyRef key;
  std::string_view merchant;
  bool operator==(const HalfRef&) const = default;
};

struct HalfHash {
  size_t operator()(const HalfRef& h) const {
    return ImportKeyHash()(h.key) ^ (std::hash<std::string_view>()(h.merchant) * 0x9e3779b97f4a7c15ull);
  }
};

ImportEntry half_entry(ImportEntry::Kind kind, const ExportBill& b, const std::string& channel) {
  ImportEntry e;
  e.kind = kind;
  e.key = {b.order, b.time, b.amount};
  e.income = b.income;
  e.merchant = b.merchant;
  if (kind == ImportEntry::Kind::Refund) {
    e.channel = channel;
    e.remark = b.remark;
  }
  return e;
}

// A key the log booked: the side of its first intent or done entry, and whether a done entry
// stored it.
struct BookedKey {
  bool income = false;
  bool done = false;
};

// What the log knows: the payments, the side of every bill it booked, the halves it remembers.
// Views of the log's entries.
template <typename Entry>
struct LogKnowledge {
  PaymentIndex payments;
  FlatTable<ImportKeyRef, BookedKey, ImportKeyHash> booked;  // of every intent and done entry
  FlatTable<HalfRef, char, HalfHash> remembered;
  std::vector<const Entry*> refunds;  // remembered refunds
};

// Learns the log. Payments and booked keys only matter to refunds: without any (`refunds` false),
// only the remembered halves are learnt.
template <typename Entry>
void learn(std::span<const Entry> log, bool refunds, LogKnowledge<Entry>* k) {
  if (refunds) {
    k->payments.reserve(log.size());
    k->booked.reserve(log.size());
  }
  for (const Entry& e : log) {
    const bool booked = e.kind == ImportEntry::Kind::Intent || e.kind == ImportEntry::Kind::Done;
    if (booked && refunds) {
      BookedKey* key = k->booked.try_emplace(ImportKeyRef(e.key), BookedKey{e.income, false}).first;
      if (e.kind == ImportEntry::Kind::Done) key->done = true;
    }
    if (refunds && !e.refund && e.kind != ImportEntry::Kind::Refund) {
      k->payments.add(e.key.order, e.merchant, {e.key.amount, e.income, booked, 0});
    }
    if (!booked && k->remembered.insert({ImportKeyRef(e.key), e.merchant}) &&
        e.kind == ImportEntry::Kind::Refund) {
      k->refunds.push_back(&e);
    }
  }
}

// Whether any refund takes part: one in the export, or one the log remembers.
template <typename Entry>
bool any_refund(const ExportRead& read, std::span<const Entry> log) {
  return std::any_of(read.bills.begin(), read.bills.end(),
                     [](const ExportBill& b) { return b.kind == ExportBill::Kind::Refund; }) ||
         std::any_of(log.begin(), log.end(),
                     [](const Entry& e) { return e.kind == ImportEntry::Kind::Refund; });
}

// Refunds of this export: booked on the side they were booked before, or on the other side of the
// payment they refund when it is booked; else remembered.
template <typename Entry>
void pair_refund(const ExportBill& b, LogKnowledge<Entry>& known, const std::string& channel,
                 PairingOf<Entry>* p) {
  if (const BookedKey* key = known.booked.find({b.order, b.time, b.amount})) {
    p->book.push_back({&b, nullptr, key->income, true, b.line});
    return;
  }
  const PaymentHalf* paid = known.payments.link(b.order, b.merchant, b.amount);
  if (paid && paid->booked) {
    p->book.push_back({&b, nullptr, !paid->income, true, b.line});
    return;
  }
  ++(paid ? p->closed_refunds : p->orphans);
  if (known.remembered.insert({{b.order, b.time, b.amount}, b.merchant})) {
    p->remember.push_back(half_entry(ImportEntry::Kind::Refund, b, channel));
  }
}

template <typename Entry>
PairingOf<Entry> pair_with(const ExportRead& read, std::span<const Entry> log, const std::string& channel) {
  const bool refunds = any_refund(read, log);
  LogKnowledge<Entry> known;
  learn(log, refunds, &known);
  if (refunds) {
    for (const ExportBill& b : read.bills) {
      if (b.kind != ExportBill::Kind::Refund) {
        known.payments.add(b.order, b.merchant,
                           {b.amount, b.income, b.kind == ExportBill::Kind::Payment, b.line});
      }
    }
  }
  PairingOf<Entry> p;
  p.book.reserve(read.bills.size());
  FlatTable<ImportKeyRef, char, ImportKeyHash> refunds_here;
  for (const ExportBill& b : read.bills) {
    if (b.kind == ExportBill::Kind::Payment) {
      p.book.push_back({&b, nullptr, b.income, false, b.line});
    } else if (b.kind == ExportBill::Kind::Closed) {
      if ((!b.order.empty() || !b.merchant.empty()) &&
          known.remembered.insert({{b.order, b.time, b.amount}, b.merchant})) {
        p.remember.push_back(half_entry(ImportEntry::Kind::Closed, b, channel));
      }
    } else {
      refunds_here.insert({b.order, b.time, b.amount});
      pair_refund(b, known, channel, &p);
    }
  }
  // Refunds that waited for a payment of this export (or of one imported since). One stored once
  // is not booked again from the log (it may have been deleted since); one whose import was cut
  // short after its intent is, unless its record is found.
  for (const Entry* r : known.refunds) {
    const ImportKeyRef key(r->key);
    if (refunds_here.contains(key)) continue;
    if (const BookedKey* booked = known.booked.find(key); booked && booked->done) continue;
    const PaymentHalf* paid = known.payments.link(r->key.order, r->merchant, r->key.amount);
    if (paid && paid->booked) p.book.push_back({nullptr, r, !paid->income, true, paid->line});
  }
  return p;
}

}  // namespace

Pairing pair_refunds(const ExportRead& read, const std::vector<ImportEntry>& log,
                     const std::string& channel) {
  return pair_with(read, std::span<const ImportEntry>(log), channel);
}

LoggedPairing pair_logged_refunds(const ExportRead& read, std::span<const LoggedEntry> log,
                                  const std::string& channel) {
  return pair_with(read, log, channel);
}

}  // namespace pennacle
