#include "ledger/import/import_pairs.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace pennacle {
namespace {

ExportBill bill(ExportBill::Kind kind, std::string order, std::string merchant, double amount, bool income,
                int line) {
  ExportBill b;
  b.kind = kind;
  b.order = std::move(order);
  b.merchant = std::move(merchant);
  b.amount = amount;
  b.income = income;
  b.time = 45000 + line;
  b.line = line;
  return b;
}

ImportEntry logged(ImportEntry::Kind kind, std::string order, std::string merchant, double amount,
                   bool income, bool refund = false) {
  ImportEntry e;
  e.kind = kind;
  e.key = {std::move(order), 44000, amount};
  e.merchant = std::move(merchant);
  e.income = income;
  e.refund = refund;
  return e;
}

// The booked bill of `line`, or nullptr.
const PairedBill* booked(const Pairing& p, int line) {
  for (const PairedBill& b : p.book)
    if (b.row && b.row->line == line) return &b;
  return nullptr;
}

using K = ExportBill::Kind;

TEST(PairRefunds, TheLongestOrderNumberPrefixLinksWhateverLengthsThePaymentsHave) {
  ExportRead read;
  read.bills = {
      bill(K::Payment, "P1", "", 10, false, 2),       bill(K::Closed, "P1234", "", 10, false, 3),
      bill(K::Payment, "Q123456789", "", 8, true, 4), bill(K::Refund, "P12345R", "", 10, true, 5),
      bill(K::Refund, "P1R", "", 10, true, 6),        bill(K::Refund, "Q123456789-1", "", 8, false, 7),
      bill(K::Refund, "Q12345678", "", 8, false, 8),  bill(K::Refund, "", "", 1, false, 9)};
  const Pairing p = pair_refunds(read, {}, "channel");
  // Line 5 begins with the closed P1234 before P1: no money moved.
  EXPECT_EQ(booked(p, 5), nullptr);
  EXPECT_EQ(p.closed_refunds, 1);
  ASSERT_NE(booked(p, 6), nullptr);
  EXPECT_TRUE(booked(p, 6)->income) << "the other side of the expense P1";
  ASSERT_NE(booked(p, 7), nullptr);
  EXPECT_FALSE(booked(p, 7)->income) << "the other side of the income Q123456789";
  // A prefix of a payment's order number, and no order number: neither has its payment.
  EXPECT_EQ(booked(p, 8), nullptr);
  EXPECT_EQ(booked(p, 9), nullptr);
  EXPECT_EQ(p.orphans, 2);
  ASSERT_EQ(p.remember.size(), 4u);  // the closed payment and the three refunds not booked
  EXPECT_EQ(p.remember[0].kind, ImportEntry::Kind::Closed);
  EXPECT_EQ(p.remember[1].key.order, "P12345R");
  EXPECT_EQ(p.remember[1].channel, "channel");
}

TEST(PairRefunds, AMerchantOrderNumberLinksTheFirstPaidPaymentLargeEnough) {
  ExportRead read;
  read.bills = {bill(K::Closed, "A", "M", 50, false, 2),  bill(K::Payment, "B", "M", 30, false, 3),
                bill(K::Payment, "C", "M", 50, true, 4),  bill(K::Payment, "D", "M", 60, false, 5),
                bill(K::Refund, "X1", "M", 30, false, 6), bill(K::Refund, "X2", "M", 40, false, 7),
                bill(K::Refund, "X3", "M", 70, false, 8), bill(K::Refund, "X4", "N", 1, false, 9)};
  const Pairing p = pair_refunds(read, {}, "");
  ASSERT_NE(booked(p, 6), nullptr);
  EXPECT_TRUE(booked(p, 6)->income) << "B, the first paid one large enough: a expense";
  ASSERT_NE(booked(p, 7), nullptr);
  EXPECT_FALSE(booked(p, 7)->income) << "C, not the closed A before it: a income";
  EXPECT_EQ(booked(p, 8), nullptr) << "no payment is that large";
  EXPECT_EQ(booked(p, 9), nullptr);
  EXPECT_EQ(p.orphans, 2);
  // The closed attempt alone is large enough: the refund is one of a closed payment.
  read.bills = {bill(K::Closed, "A", "M", 50, false, 2), bill(K::Payment, "B", "M", 30, false, 3),
                bill(K::Refund, "X", "M", 40, false, 4)};
  const Pairing closed = pair_refunds(read, {}, "");
  EXPECT_EQ(booked(closed, 4), nullptr);
  EXPECT_EQ(closed.closed_refunds, 1);
}

TEST(PairRefunds, TheLogsHalvesSettleWithTheExportsRowsAndAreNotRememberedTwice) {
  const std::vector<ImportEntry> log = {
      logged(ImportEntry::Kind::Refund, "P9R", "", 5, true),  // waits for P9
      logged(ImportEntry::Kind::Refund, "P8R", "", 5, true),  // stored once: not booked again
      logged(ImportEntry::Kind::Done, "P8R", "", 5, false, true),
      logged(ImportEntry::Kind::Closed, "C1", "", 7, false),
      logged(ImportEntry::Kind::Done, "P7", "", 3, true),
      logged(ImportEntry::Kind::Intent, "P7R", "", 3, false, true)};
  ExportRead read;
  read.bills = {bill(K::Payment, "P9", "", 5, false, 2), bill(K::Payment, "P8", "", 5, false, 3),
                bill(K::Closed, "C1", "", 7, false, 4), bill(K::Closed, "C2", "", 7, false, 5)};
  read.bills[2].time = 44000;  // the closed payment the log holds
  Pairing p = pair_refunds(read, log, "");
  ASSERT_EQ(p.book.size(), 3u);
  EXPECT_EQ(p.book[2].waiting, &log[0]);
  EXPECT_TRUE(p.book[2].income);
  EXPECT_EQ(p.book[2].line, 2) << "its payment's line";
  ASSERT_EQ(p.remember.size(), 1u);
  EXPECT_EQ(p.remember[0].key.order, "C2");
  // A refund booked before is booked on that side again, whatever its payment says now.
  read.bills = {bill(K::Refund, "P7R", "", 3, true, 2)};
  read.bills[0].time = 44000;
  p = pair_refunds(read, log, "");
  ASSERT_NE(booked(p, 2), nullptr);
  EXPECT_FALSE(booked(p, 2)->income);
  EXPECT_EQ(p.book.size(), 1u) << "P9R still waits: P9 is in neither the log nor this export";
}

}  // namespace
}  // namespace pennacle
