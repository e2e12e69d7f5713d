// This file is compiled with UTF-8 literals; it compares order numbers only.
#include "ledger/import/import_pairs.h"

#include <map>
#include <set>
#include <string_view>
#include <utility>

namespace pennacle {
namespace {

constexpr double kAmountSlack = 1e-9;  // amounts are read from decimal text

struct PaymentHalf {
  double amount = 0;
  bool income = false;
  bool booked = false;  // else closed
  int line = 0;
};

// Every payment known, booked or closed, by order number and by merchant order number.
class PaymentIndex {
 public:
  void add(const std::string& order, const std::string& merchant, const PaymentHalf& half) {
    if (!order.empty()) {
      auto [it, fresh] = by_order_.emplace(order, half);
      if (!fresh && half.booked && !it->second.booked) it->second = half;  // paid wins over closed
    }
    if (!merchant.empty()) by_merchant_.emplace(merchant, half);
  }

  // The payment a refund refunds, or nullptr.
  const PaymentHalf* link(std::string_view order, std::string_view merchant, double amount) const {
    for (size_t n = order.size(); n > 0; --n) {
      if (auto it = by_order_.find(order.substr(0, n)); it != by_order_.end()) return &it->second;
    }
    if (merchant.empty()) return nullptr;
    const PaymentHalf* closed = nullptr;
    for (auto [it, end] = by_merchant_.equal_range(merchant); it != end; ++it) {
      if (it->second.amount + kAmountSlack < amount) continue;
      if (it->second.booked) return &it->second;
      closed = closed ? closed : &it->second;
    }
    return closed;
  }

 private:
  std::map<std::string, PaymentHalf, std::less<>> by_order_;
  std::multimap<std::string, PaymentHalf, std::less<>> by_merchant_;
};

using HalfKey = std::pair<ImportKey, std::string>;  // a remembered half: its key and merchant

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

// What the log knows: the payments, the side of every bill it booked, the halves it remembers.
struct LogKnowledge {
  PaymentIndex payments;
  std::map<ImportKey, bool> booked;  // key to side, of every intent and done entry
  std::set<ImportKey> done;          // keys of done entries: bills stored once
  std::set<HalfKey> remembered;
  std::vector<const ImportEntry*> refunds;  // remembered refunds
};

LogKnowledge learn(const std::vector<ImportEntry>& log) {
  LogKnowledge k;
  for (const ImportEntry& e : log) {
    const bool booked = e.kind == ImportEntry::Kind::Intent || e.kind == ImportEntry::Kind::Done;
    if (booked) k.booked.emplace(e.key, e.income);
    if (e.kind == ImportEntry::Kind::Done) k.done.insert(e.key);
    if (!e.refund && e.kind != ImportEntry::Kind::Refund) {
      k.payments.add(e.key.order, e.merchant, {e.key.amount, e.income, booked, 0});
    }
    if (!booked && k.remembered.insert({e.key, e.merchant}).second && e.kind == ImportEntry::Kind::Refund) {
      k.refunds.push_back(&e);
    }
  }
  return k;
}

}  // namespace

Pairing pair_refunds(const ExportRead& read, const std::vector<ImportEntry>& log,
                     const std::string& channel) {
  LogKnowledge known = learn(log);
  for (const ExportBill& b : read.bills) {
    if (b.kind != ExportBill::Kind::Refund) {
      known.payments.add(b.order, b.merchant,
                         {b.amount, b.income, b.kind == ExportBill::Kind::Payment, b.line});
    }
  }
  Pairing p;
  std::set<ImportKey> refunds_here;
  auto remember = [&](ImportEntry::Kind kind, const ExportBill& b) {
    if (known.remembered.insert({{b.order, b.time, b.amount}, b.merchant}).second) {
      p.remember.push_back(half_entry(kind, b, channel));
    }
  };
  for (const ExportBill& b : read.bills) {
    const ImportKey key{b.order, b.time, b.amount};
    if (b.kind == ExportBill::Kind::Payment) {
      p.book.push_back({&b, nullptr, b.income, false, b.line});
      continue;
    }
    if (b.kind == ExportBill::Kind::Closed) {
      if (!b.order.empty() || !b.merchant.empty()) remember(ImportEntry::Kind::Closed, b);
      continue;
    }
    refunds_here.insert(key);
    // Booked before: on the side it was booked.
    if (auto it = known.booked.find(key); it != known.booked.end()) {
      p.book.push_back({&b, nullptr, it->second, true, b.line});
      continue;
    }
    const PaymentHalf* paid = known.payments.link(b.order, b.merchant, b.amount);
    if (paid && paid->booked) {
      p.book.push_back({&b, nullptr, !paid->income, true, b.line});
      continue;
    }
    ++(paid ? p.closed_refunds : p.orphans);
    remember(ImportEntry::Kind::Refund, b);
  }
  // Refunds that waited for a payment of this export (or of one imported since). One stored once
  // is not booked again from the log (it may have been deleted since); one whose import was cut
  // short after its intent is, unless its record is found.
  for (const ImportEntry* r : known.refunds) {
    if (refunds_here.count(r->key) || known.done.count(r->key)) continue;
    const PaymentHalf* paid = known.payments.link(r->key.order, r->merchant, r->key.amount);
    if (paid && paid->booked) p.book.push_back({nullptr, r, !paid->income, true, paid->line});
  }
  return p;
}

}  // namespace pennacle
