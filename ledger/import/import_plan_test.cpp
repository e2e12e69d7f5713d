#include "ledger/import/import_plan.h"

#include <gtest/gtest.h>

#include <climits>
#include <random>
#include <string>
#include <vector>

namespace pennacle {
namespace {

using Kind = ImportEntry::Kind;

LoggedEntry logged(Kind kind, std::string_view order, double amount = 5, int32_t serial = 0) {
  LoggedEntry e;
  e.kind = kind;
  e.key = {order, 45000.5, amount};
  e.serial = serial;
  return e;
}

// What an open intent is: one that no done entry after it answers with the same key.
std::vector<size_t> open_by_definition(const std::vector<LoggedEntry>& log) {
  std::vector<size_t> open;
  for (size_t i = 0; i < log.size(); ++i) {
    if (log[i].kind != Kind::Intent) continue;
    bool answered = false;
    for (size_t j = i + 1; j < log.size(); ++j)
      answered |= log[j].kind == Kind::Done && log[j].key == log[i].key;
    if (!answered) open.push_back(i);
  }
  return open;
}

std::vector<size_t> open_found(const std::vector<LoggedEntry>& log) {
  std::vector<size_t> at;
  for (const LoggedEntry* e : open_intents(log)) at.push_back(static_cast<size_t>(e - log.data()));
  return at;
}

TEST(OpenIntents, AnIntentIsOpenExactlyWhenNoLaterDoneEntryHasItsKey) {
  const std::vector<std::vector<LoggedEntry>> logs = {
      {},
      // Groups as an import writes them: found and remembered entries, intents, then done entries in
      // the same order; the last group cut short after its first bill.
      {logged(Kind::Done, "F"), logged(Kind::Closed, "C"), logged(Kind::Intent, "a"),
       logged(Kind::Intent, "b"), logged(Kind::Done, "a"), logged(Kind::Done, "b"), logged(Kind::Intent, "d"),
       logged(Kind::Intent, "e"), logged(Kind::Done, "d")},
      // Done entries in another order than their intents.
      {logged(Kind::Intent, "a"), logged(Kind::Intent, "b"), logged(Kind::Intent, "c"),
       logged(Kind::Done, "c"), logged(Kind::Done, "a"), logged(Kind::Done, "b")},
      // A done entry before the intent answers nothing; another key where the answer would stand.
      {logged(Kind::Done, "a"), logged(Kind::Intent, "a"), logged(Kind::Intent, "b"),
       logged(Kind::Done, "x")},
      // One key twice in a run, answered once after both; the same order at another amount is no answer.
      {logged(Kind::Intent, "a"), logged(Kind::Intent, "a"), logged(Kind::Done, "a"),
       logged(Kind::Done, "a", 6)},
      // -0 and 0 are one amount, where the answer stands and further on.
      {logged(Kind::Intent, "z", -0.0), logged(Kind::Done, "z", 0.0), logged(Kind::Intent, "y", 0.0),
       logged(Kind::Intent, "q"), logged(Kind::Refund, "y"), logged(Kind::Done, "y", -0.0)},
  };
  for (size_t n = 0; n < logs.size(); ++n)
    EXPECT_EQ(open_found(logs[n]), open_by_definition(logs[n])) << "log " << n;
  EXPECT_EQ(open_found(logs[1]), std::vector<size_t>{7});
  EXPECT_EQ(open_found(logs[3]), std::vector<size_t>({1, 2}));
}

TEST(OpenIntents, RandomLogsAgreeWithTheDefinition) {
  std::mt19937 random(20230301);
  const std::string orders[] = {"", "a", "b", "c", "long order number 2023030122001400001"};
  for (int round = 0; round < 400; ++round) {
    std::vector<LoggedEntry> log;
    const size_t size = random() % 40;
    for (size_t i = 0; i < size; ++i) {
      // Mostly runs of intents and their answers, as imports write them, with some noise.
      const Kind kind = random() % 5 == 0           ? static_cast<Kind>(random() % 4)
                        : (i / (1 + round % 4)) % 2 ? Kind::Done
                                                    : Kind::Intent;
      log.push_back(
          logged(kind, orders[random() % 5], random() % 2 ? 5 : 7, static_cast<int32_t>(random() % 9)));
    }
    const std::vector<size_t> want = open_by_definition(log);
    ASSERT_EQ(open_found(log), want) << "round " << round;
    int32_t lowest = INT32_MAX;
    for (size_t i : want) lowest = std::min(lowest, log[i].serial);
    EXPECT_EQ(lowest_open_intent(open_intents(log)), lowest) << "round " << round;
  }
}

}  // namespace
}  // namespace pennacle
