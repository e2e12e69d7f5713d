#include "ledger/categories.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "ledger/checked_lines.h"
#include "runtime/convert.h"
#include "store/snapshot_test_support.h"
#include "store/test_support.h"
#include "testing/fault_file.h"

namespace pennacle {
namespace {

using namespace pennacle::testing;
namespace fs = std::filesystem;

CategoryKey key(int32_t serial, double amount = 28.16, bool income = false) {
  return {serial, make_date_time(2023, 3, 1, 12, 30, 45) + serial / 1000.0, amount, income};
}

CategoryEntry entry(int32_t serial, std::string name, bool by_hand = false) {
  return {key(serial), std::move(name), by_hand};
}

LiveBills live_of(std::initializer_list<CategoryKey> keys) {
  LiveBills live;
  for (const CategoryKey& k : keys) live[k.serial] = k;
  return live;
}

class CategoriesTest : public StoreTest {
 protected:
  std::string file() { return path("data.kdb.categories"); }
  // The state a reader sees: entry names by serial.
  std::map<int32_t, std::string> state() {
    CategoryFile f;
    const Status s = f.open(posix_file_system(), file(), false);
    EXPECT_TRUE(s.ok()) << s.message();
    std::map<int32_t, std::string> out;
    for (const auto& [serial, e] : f.entries()) out[serial] = e.name + (e.by_hand ? "/h" : "");
    return out;
  }
  void write(const std::vector<CategoryEntry>& changes, const LiveBills* live = nullptr) {
    CategoryFile f;
    ASSERT_TRUE(f.open(posix_file_system(), file(), true).ok());
    const Status s = f.update(changes, live);
    ASSERT_TRUE(s.ok()) << s.message();
  }
};

TEST_F(CategoriesTest, ANewLedgerStartsWithTheDailySetAndAnEntryNeedsItsBillsValues) {
  CategoryFile none;
  ASSERT_TRUE(none.open(posix_file_system(), file(), false).ok());
  EXPECT_EQ(none.names(), starting_categories());
  EXPECT_FALSE(fs::exists(file())) << "a reader never makes the file";
  EXPECT_GE(starting_categories().size(), 10u);
  EXPECT_EQ(uncategorized(), "未分类");

  write({entry(1, "餐饮"), entry(2, "餐饮:午餐", true), entry(3, "Expenses:Food:Lunch")});
  CategoryFile f;
  ASSERT_TRUE(f.open(posix_file_system(), file(), false).ok());
  ASSERT_NE(f.find(key(2)), nullptr);
  EXPECT_EQ(f.find(key(2))->name, "餐饮:午餐");
  EXPECT_TRUE(f.find(key(2))->by_hand);
  EXPECT_FALSE(f.find(key(1))->by_hand);
  // The same serial with another time, amount or side is another bill (a restore gave it out again).
  CategoryKey other = key(1);
  other.amount = 28.17;
  EXPECT_EQ(f.find(other), nullptr);
  other = key(1);
  other.income = true;
  EXPECT_EQ(f.find(other), nullptr);
  other = key(1);
  other.time += 1.0 / 86400;
  EXPECT_EQ(f.find(other), nullptr);
  EXPECT_EQ(f.find(key(9)), nullptr);
  // New names join the known ones after the starting set.
  EXPECT_EQ(f.names().back(), "Expenses:Food:Lunch");
  EXPECT_EQ(f.names().size(), starting_categories().size() + 2);
}

TEST_F(CategoriesTest, LaterLinesWinAndBadNamesAreRefused) {
  write({entry(1, "餐饮"), entry(2, "交通")});
  write({entry(1, "购物", true)});
  EXPECT_EQ(state(), (std::map<int32_t, std::string>{{1, "购物/h"}, {2, "交通"}}));
  CategoryFile f;
  ASSERT_TRUE(f.open(posix_file_system(), file(), true).ok());
  for (const char* bad : {"", ":餐饮", "餐饮:", "餐饮::午餐", "a\tb", "a\nb"}) {
    const Status s = f.update({entry(3, bad)}, nullptr);
    EXPECT_EQ(s.code(), StatusCode::Invalid) << bad;
  }
  EXPECT_FALSE(f.update({entry(3, std::string(kMaxCategoryBytes + 1, 'x'))}, nullptr).ok());
  EXPECT_EQ(state().size(), 2u) << "a refused change writes nothing";
}

TEST_F(CategoriesTest, EntriesOfBillsThatAreGoneAreDroppedByWritingTheFileAnew) {
  write({entry(1, "餐饮"), entry(2, "交通"), entry(3, "购物")});
  const uintmax_t before = fs::file_size(file());
  // Bill 2 was deleted; bill 3's serial now holds another bill (an older ledger was restored).
  CategoryKey restored = key(3);
  restored.amount = 99;
  const LiveBills live = live_of({key(1), restored, key(4)});
  write({entry(4, "医疗")}, &live);
  EXPECT_EQ(state(), (std::map<int32_t, std::string>{{1, "餐饮"}, {4, "医疗"}}));
  EXPECT_LT(fs::file_size(file()), before + 60) << "written anew, not appended to";
  EXPECT_FALSE(fs::exists(file() + ".rewriting"));
  // The file written anew takes appends as before.
  write({entry(1, "交通")});
  EXPECT_EQ(state()[1], "交通");
}

TEST_F(CategoriesTest, AnEntryFollowsItsBillThroughAnEditAndAnUndelete) {
  write({entry(5, "餐饮", true), entry(6, "交通")});
  CategoryFile f;
  ASSERT_TRUE(f.open(posix_file_system(), file(), true).ok());
  // An edit: the same serial, a new amount and time.
  CategoryKey edited = key(5, 30.5);
  edited.time += 1;
  ASSERT_TRUE(f.rekey(key(5), edited).ok());
  // An undelete: the bill comes back under a new serial.
  const CategoryKey back{17, key(6).time, key(6).amount, false};
  ASSERT_TRUE(f.rekey(key(6), back).ok());
  // A bill without an entry, or a key with another bill's values, moves nothing.
  ASSERT_TRUE(f.rekey(key(8), key(9)).ok());
  ASSERT_TRUE(f.rekey(key(5), key(20)).ok());

  CategoryFile r;
  ASSERT_TRUE(r.open(posix_file_system(), file(), false).ok());
  EXPECT_EQ(r.find(key(5)), nullptr);
  ASSERT_NE(r.find(edited), nullptr);
  EXPECT_EQ(r.find(edited)->name, "餐饮");
  EXPECT_TRUE(r.find(edited)->by_hand) << "by hand stays by hand";
  EXPECT_EQ(r.find(key(6)), nullptr);
  ASSERT_NE(r.find(back), nullptr);
  EXPECT_EQ(r.find(back)->name, "交通");
  EXPECT_EQ(r.find(key(20)), nullptr);
  EXPECT_EQ(r.entries().size(), 2u);
}

TEST_F(CategoriesTest, ATornEndIsDroppedAndWrittenOverButDamageBelowAMarkIsRefused) {
  write({entry(1, "餐饮")});
  write({entry(2, "交通")});
  const std::string sound = read_bytes(file());
  write({entry(3, "购物")});
  const std::string whole = read_bytes(file());
  const std::string last = whole.substr(sound.size());
  for (size_t cut = 0; cut < last.size(); ++cut) {
    SCOPED_TRACE(cut);
    write_bytes(file(), whole.substr(0, sound.size() + cut));
    EXPECT_EQ(state(), (std::map<int32_t, std::string>{{1, "餐饮"}, {2, "交通"}}));
    CategoryFile f;
    ASSERT_TRUE(f.open(posix_file_system(), file(), true).ok());
    ASSERT_TRUE(f.update({entry(4, "医疗")}, nullptr).ok());
    EXPECT_EQ(state(), (std::map<int32_t, std::string>{{1, "餐饮"}, {2, "交通"}, {4, "医疗"}}));
  }
  // A byte changed in the first entry, below the marks later writes put down: damage.
  std::string damaged = whole;
  const size_t first = damaged.find("\nE\t") + 4;
  damaged[first] = damaged[first] == '1' ? '2' : '1';
  write_bytes(file(), damaged);
  CategoryFile f;
  const Status s = f.open(posix_file_system(), file(), false);
  EXPECT_EQ(s.code(), StatusCode::Corrupt);
  EXPECT_NE(s.message().find("line "), std::string::npos) << s.message();
  write_bytes(file(), "something else\n");
  EXPECT_EQ(f.open(posix_file_system(), file(), false).code(), StatusCode::Corrupt);
}

// A power cut at every write and sync of an append, a rekey and a rewrite: the file then reads
// as before the change or after it, and takes the next change.
TEST_F(CategoriesTest, APowerCutAtEveryWriteLeavesTheStateBeforeOrAfter) {
  using State = std::map<int32_t, std::string>;
  const State two{{1, "餐饮"}, {2, "交通"}};
  const LiveBills live = live_of({key(1), key(3)});
  struct Change {
    const char* name;
    bool fresh;  // the file is made by the change
    State after;
    std::function<Status(CategoryFile&)> run;
  };
  const std::vector<Change> changes = {
      {"make", true, {{3, "新类"}}, [](CategoryFile& f) { return f.update({entry(3, "新类")}, nullptr); }},
      {"append",
       false,
       {{1, "餐饮"}, {2, "交通"}, {3, "新类"}},
       [](CategoryFile& f) { return f.update({entry(3, "新类")}, nullptr); }},
      {"rekey",
       false,
       {{1, "餐饮"}, {7, "交通"}},
       [](CategoryFile& f) {
         return f.rekey(key(2), {7, key(2).time, key(2).amount, false});
       }},
      {"rewrite", false, {{1, "餐饮"}, {3, "购物"}}, [&](CategoryFile& f) {
         return f.update({entry(3, "购物")}, &live);
       }}};
  for (const Change& change : changes) {
    const State before = change.fresh ? State{} : two;
    for (int writes = 0;; ++writes) {
      bool finished = false;
      for (const auto& [keeps, seed] : power_cut_kinds()) {
        SCOPED_TRACE(std::string(change.name) + ", writes " + std::to_string(writes) + ", cut " +
                     std::to_string(static_cast<int>(keeps)) + "/" + std::to_string(seed));
        fs::remove(file());
        if (!change.fresh) write({entry(1, "餐饮"), entry(2, "交通")});
        PowerCutFs cut;
        cut.faults().crash_after_writes(writes);
        {
          CategoryFile f;
          Status s = f.open(cut, file(), true);
          if (s.ok()) s = change.run(f);
          finished = !cut.faults().crashed();
          if (finished) {
            ASSERT_TRUE(s.ok()) << s.message();
          }
        }
        cut.faults().apply_power_cut(keeps, seed);
        const State got = state();
        if (finished) {
          EXPECT_EQ(got, change.after);
        } else {
          EXPECT_TRUE(got == before || got == change.after) << got.size();
        }
        write({entry(9, "其他")});
        EXPECT_EQ(state()[9], "其他");
      }
      if (finished) break;
    }
  }
}

TEST_F(CategoriesTest, OneWriterAtATimeAndAReaderNeverWaits) {
  write({entry(1, "餐饮")});
  CategoryFile first;
  ASSERT_TRUE(first.open(posix_file_system(), file(), true).ok());
  CategoryFile second;
  const Status s = second.open(posix_file_system(), file(), true);
  EXPECT_EQ(s.code(), StatusCode::Invalid);
  EXPECT_NE(s.message().find("running"), std::string::npos) << s.message();
  EXPECT_EQ(state().size(), 1u);
}

// An entry line is written without a string for each field; its bytes are still those checked_line
// makes of the fields, for numbers of every shape.
TEST(CategoryEntryLine, IsTheCheckedLineOfItsFields) {
  for (const CategoryEntry& e :
       {CategoryEntry{{1, 45000.5, 28.16, false}, "餐饮", false},
        CategoryEntry{{-2147483647, -0.0, 1e-7, true}, "a:b", true},
        CategoryEntry{{2147483647, 1.0 / 3, 123456789012345678.0, false}, "x", false}}) {
    EXPECT_EQ(
        category_entry_line(e),
        checked_line({"E", std::to_string(e.key.serial), exact_number(e.key.time), exact_number(e.key.amount),
                      e.key.income ? "+" : "-", e.by_hand ? "h" : "r", e.name}));
  }
}

}  // namespace
}  // namespace pennacle
