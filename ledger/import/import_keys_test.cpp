#include "ledger/import/import_keys.h"

#include <gtest/gtest.h>

#include <map>
#include <random>
#include <string>
#include <vector>

#include "ledger/import/flat_table.h"
#include "ledger/import/import_plan.h"

namespace pennacle {
namespace {

// Every key in one chain: lookups must tell keys apart by comparing them.
struct OneHash {
  size_t operator()(const std::string_view&) const { return 42; }
};
// Hashes that agree in their high half (the slot's tag) but not in the rest.
struct SameTag {
  size_t operator()(const std::string_view& s) const { return (uint64_t{7} << 32) | s.size(); }
};

TEST(FlatTable, AgreesWithAnOrderedMapThroughGrowthAndCollisions) {
  std::vector<std::string> keys;
  std::mt19937 random(7);
  for (int i = 0; i < 5000; ++i) keys.push_back(std::to_string(random() % 3000));  // many repeats
  keys.push_back("");
  FlatTable<std::string_view, int, std::hash<std::string_view>> table;
  FlatTable<std::string_view, int, OneHash> chained;
  std::map<std::string_view, int> want;
  for (size_t i = 0; i < keys.size(); ++i) {
    const bool fresh = want.emplace(keys[i], static_cast<int>(i)).second;
    EXPECT_EQ(table.try_emplace(keys[i], static_cast<int>(i)).second, fresh) << keys[i];
    if (i < 400) {  // one chain: quadratic
      EXPECT_EQ(chained.insert(keys[i]), fresh) << keys[i];
    }
  }
  EXPECT_EQ(table.size(), want.size());
  for (const auto& [key, first] : want) {
    const int* got = table.find(key);
    ASSERT_NE(got, nullptr) << key;
    EXPECT_EQ(*got, first) << "the first value inserted stays";
  }
  for (std::string_view absent : {"-1", "3000", "x"}) {
    EXPECT_FALSE(table.contains(absent));
    EXPECT_FALSE(chained.contains(absent));
  }
}

TEST(FlatTable, AnEmptyTableFindsNothingAndTagsAloneDoNotMatch) {
  FlatTable<std::string_view, int, std::hash<std::string_view>> empty;
  EXPECT_EQ(empty.find("a"), nullptr);
  empty.reserve(100);
  EXPECT_EQ(empty.find("a"), nullptr);
  FlatTable<std::string_view, int, SameTag> tags;
  EXPECT_TRUE(tags.insert("ab"));
  EXPECT_TRUE(tags.insert("cd"));  // same hash, another key
  EXPECT_FALSE(tags.insert("ab"));
  EXPECT_TRUE(tags.contains("cd"));
  EXPECT_FALSE(tags.contains("ef"));
  *tags.find("cd") = 5;
  EXPECT_EQ(*tags.find("cd"), 5);
  EXPECT_EQ(*tags.find("ab"), 0);
}

TEST(ImportKeys, EqualKeysHashAlikeMinusZeroIncluded) {
  const std::string order = "2023000001";
  EXPECT_EQ(ImportKeyHash()({order, 0.0, 5.0}), ImportKeyHash()({order, -0.0, 5.0}));
  EXPECT_EQ(ImportKeyHash()({order, 1.0, 0.0}), ImportKeyHash()({order, 1.0, -0.0}));
  FlatTable<ImportKeyRef, char, ImportKeyHash> keys;
  EXPECT_TRUE(keys.insert({order, 1.0, 0.0}));
  EXPECT_FALSE(keys.insert({order, 1.0, -0.0}));
  EXPECT_TRUE(keys.insert({order, 1.0, 0.01}));
  EXPECT_TRUE(keys.insert({"2023000002", 1.0, 0.0}));
  EXPECT_TRUE(keys.insert({order, 2.0, 0.0}));
  // A view and the key it was taken from are the same key.
  const ImportKey key{order, 1.0, 0.01};
  EXPECT_TRUE(keys.contains(ImportKeyRef(key)));
  FlatTable<SidedKeyRef, char, SidedKeyHash> sided;
  EXPECT_TRUE(sided.insert({ImportKeyRef(key), false}));
  EXPECT_TRUE(sided.insert({ImportKeyRef(key), true}));
  EXPECT_FALSE(sided.insert({ImportKeyRef(key), true}));
}

TEST(ImportKeys, SerialStacksGiveTheLastPutFirstAndRunDry) {
  SerialStacks<ValueKeyRef, ValueKeyHash> stacks;
  const ValueKeyRef a{1.0, 2.0, false, "x"}, b{1.0, 2.0, true, "x"}, c{1.0, 2.0, false, "y"};
  for (int32_t s : {3, 5, 9}) stacks.put(a, s);
  stacks.put(b, 4);
  EXPECT_EQ(stacks.serials(a), (std::vector<int32_t>{9, 5, 3}));
  int32_t got = 0;
  ASSERT_TRUE(stacks.take(a, &got));
  EXPECT_EQ(got, 9);
  stacks.put(a, 11);  // put after a take: on top again
  ASSERT_TRUE(stacks.take(a, &got));
  EXPECT_EQ(got, 11);
  ASSERT_TRUE(stacks.take(a, &got));
  EXPECT_EQ(got, 5);
  ASSERT_TRUE(stacks.take(a, &got));
  EXPECT_EQ(got, 3);
  EXPECT_FALSE(stacks.take(a, &got));
  EXPECT_FALSE(stacks.take(c, &got));
  ASSERT_TRUE(stacks.take(b, &got));
  EXPECT_EQ(got, 4);
}

TEST(ImportKeys, MeetingAKeyTakesItsSerialOnceUnlessRepeatsTake) {
  SerialStacks<ValueKeyRef, ValueKeyHash> stacks;
  const ValueKeyRef a{1.0, 2.0, false, "x"}, b{1.0, 3.0, false, "x"};
  for (int32_t s : {3, 5, 9}) stacks.put(a, s);
  int32_t got = 0;
  auto met = stacks.meet(a, false, &got);
  EXPECT_FALSE(met.again);
  ASSERT_TRUE(met.taken);
  EXPECT_EQ(got, 9);
  met = stacks.meet(a, false, &got);  // met again, and repeats take nothing
  EXPECT_TRUE(met.again);
  EXPECT_FALSE(met.taken);
  met = stacks.meet(a, true, &got);
  EXPECT_TRUE(met.again);
  ASSERT_TRUE(met.taken);
  EXPECT_EQ(got, 5);
  // A key with no serials: met, nothing taken; met again after that.
  met = stacks.meet(b, true, &got);
  EXPECT_FALSE(met.again);
  EXPECT_FALSE(met.taken);
  EXPECT_TRUE(stacks.meet(b, true, &got).again);
  EXPECT_EQ(stacks.serials(a), std::vector<int32_t>{3});
}

RecordFacts record(int32_t serial, double amount) {
  RecordFacts f;
  f.serial = serial;
  f.amount = amount;
  return f;
}

TEST(LedgerFactsTest, RecordsAreFoundBySerialWhetherIndexedOrSearched) {
  for (int32_t far : {40, 2000000000}) {  // dense: indexed; a serial far out: searched
    LedgerFacts facts;
    facts.live = {record(7, 1), record(3, 2), record(far, 3), record(3, 4), record(1, 5)};
    order_facts(&facts);
    EXPECT_EQ(facts.index.empty(), far > 1000) << far;
    ASSERT_EQ(facts.live.size(), 4u);
    EXPECT_EQ(facts.live[facts.find(3)].amount, 4) << "the last record read of a serial stands";
    EXPECT_EQ(facts.live[facts.find(1)].amount, 5);
    EXPECT_EQ(facts.live[facts.find(7)].amount, 1);
    EXPECT_EQ(facts.live[facts.find(far)].amount, 3);
    for (int32_t none : {0, 2, -3, 8, far - 1, far + 1, INT32_MIN, INT32_MAX - (far > 1000)})
      EXPECT_EQ(facts.find(none), -1) << none;
  }
  LedgerFacts none;
  order_facts(&none);
  EXPECT_EQ(none.find(1), -1);
}

}  // namespace
}  // namespace pennacle
