#include "ledger/category_entries.h"

#include <gtest/gtest.h>

#include <map>
#include <random>

namespace pennacle {
namespace {

CategoryEntry entry(int32_t serial, std::string name) {
  return {{serial, 45000.0 + serial, 1.5, false}, name};
}

// The table as serial -> name, for comparing with a model.
std::map<int32_t, std::string> names_of(const CategoryEntries& t) {
  std::map<int32_t, std::string> out;
  int32_t last = INT32_MIN;
  for (const auto& [serial, e] : t) {
    EXPECT_LT(last, serial) << "not sorted, or a serial twice";
    EXPECT_EQ(serial, e.key.serial);
    last = serial;
    out[serial] = e.name;
  }
  return out;
}

// A file read front to back: entries out of order, a serial set twice, drops before and after a
// later entry of the same serial. Later lines win; a dropped serial that comes back is held.
TEST(CategoryEntries, AFileReadInOrderKeepsTheLastLineOfEachSerial) {
  CategoryEntries t;
  t.add_in_order(entry(5, "a"));
  t.add_in_order(entry(9, "b"));
  t.add_in_order(entry(3, "c"));
  t.add_in_order(entry(5, "d"));
  t.drop_in_order(9);
  t.drop_in_order(3);
  t.add_in_order(entry(3, "e"));
  t.drop_in_order(77);  // never held
  t.settle();
  EXPECT_EQ(names_of(t), (std::map<int32_t, std::string>{{3, "e"}, {5, "d"}}));
  EXPECT_EQ(t.count(9), 0u);
  EXPECT_EQ(t.find(5)->second.name, "d");
  EXPECT_EQ(t.lower_bound(4)->first, 5);
  EXPECT_EQ(t.lower_bound(6), t.end());
}

// Random sets, merges, erases and drops against a std::map: the table stays sorted, one entry a
// serial, and holds what the map holds.
TEST(CategoryEntries, EveryChangeAgreesWithAMap) {
  std::mt19937 rng(7);
  CategoryEntries t;
  std::map<int32_t, std::string> model;
  for (int round = 0; round < 400; ++round) {
    const int op = static_cast<int>(rng() % 4);
    if (op == 0) {
      const auto s = static_cast<int32_t>(rng() % 300);
      const std::string name = "n" + std::to_string(rng() % 50);
      t.set(entry(s, name));
      model[s] = name;
    } else if (op == 1) {  // a group, some serials twice, some above every one held
      std::vector<CategoryEntry> group;
      const size_t n = rng() % 40;
      for (size_t i = 0; i < n; ++i) {
        const auto s = static_cast<int32_t>(rng() % 2 ? rng() % 300 : 300 + round + i);
        group.push_back(entry(s, "g" + std::to_string(i)));
        model[s] = group.back().name;
      }
      t.set_all(group);
    } else if (op == 2) {
      const auto s = static_cast<int32_t>(rng() % 300);
      EXPECT_EQ(t.erase(s), model.erase(s));
    } else {
      const auto cut = static_cast<int32_t>(rng() % 700);
      const size_t gone = t.erase_if([cut](const CategoryEntry& e) { return e.key.serial % 7 == cut % 7; });
      size_t model_gone = 0;
      for (auto it = model.begin(); it != model.end();)
        it = it->first % 7 == cut % 7 ? (++model_gone, model.erase(it)) : std::next(it);
      EXPECT_EQ(gone, model_gone);
    }
    ASSERT_EQ(names_of(t), model) << "round " << round;
  }
}

}  // namespace
}  // namespace pennacle
