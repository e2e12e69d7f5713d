// A power cut at every write and sync of an edit in place, keeping none, all and seeded random
// subsets (PENNACLE_CUT_SUBSETS, PENNACLE_CUT_SEED) of the 512-byte sectors not yet synced. After
// each cut the file opens for writing, holds the edited bill whole as it was or as the edit made it
// (as made when the edit reported success), every other bill as it was, passes the audit, and takes
// another edit and a new bill.
#include <gtest/gtest.h>

#include <functional>
#include <map>

#include "store/check.h"
#include "store/test_support.h"
#include "testing/fault_file.h"

namespace pennacle {
namespace {

using namespace pennacle::testing;

int env_int(const char* name, int fallback) {
  const char* v = std::getenv(name);
  return v && *v ? std::atoi(v) : fallback;
}

std::string letters(size_t n, char from) {
  std::string s;
  for (size_t i = 0; i < n; ++i) s += static_cast<char>(from + i % 26);
  return s;
}

// Every field of the current record, as one string.
std::string current_values() {
  std::string out;
  for (int32_t i = 1; i <= 6; ++i) {
    Value v = call_command(db_read_field, {Value::of_int(i)});
    out += v.is(Kind::Text) ? Text::from_result(v).str() : std::to_string(v.payload());
    out += '|';
  }
  return out;
}

using Bills = std::map<int32_t, std::string>;  // live records by serial

// The values an edit writes: type, amount, channel, time, remark; an unset one stays.
struct Change {
  std::optional<std::string> type, channel, remark;
  std::optional<double> amount, time;

  std::vector<Value> values(std::vector<Text>* keep) const {
    std::vector<Value> v(6);
    auto text = [&](const std::optional<std::string>& s, size_t at) {
      if (!s) return;
      keep->emplace_back(*s);
      v[at] = keep->back().value();
    };
    keep->reserve(3);
    text(type, 1);
    text(channel, 3);
    text(remark, 5);
    if (amount) v[2] = Value::of_double(*amount);
    if (time) v[4] = Value::of_date_time(*time);
    return v;
  }
};

class EditPowerCut : public StoreTest {
 protected:
  // Bills 1..n with amount i, remark `remarks[i - 1]` (empty when missing).
  void build(int n, const std::vector<std::string>& remarks) {
    p_ = path("data.kdb");
    ASSERT_EQ(create_database(p_, ledger_fields()), DbCode::Ok);
    ASSERT_TRUE(open_db(p_));
    for (int i = 1; i <= n; ++i) {
      const std::string r =
          static_cast<size_t>(i) <= remarks.size() ? remarks[static_cast<size_t>(i - 1)] : "";
      ASSERT_TRUE(append_bill(i, "支出", i, "微信", 44000 + i, r));
    }
    DatabaseInfo info;
    ASSERT_TRUE(db_current_info(&info));
    data_start_ = info.data_start;
    record_length_ = info.record_length;
    start_ = live();
    close_db();
    kdb_ = read_bytes(p_);
    kdt_ = read_bytes(kdt());
  }
  std::string kdt() const { return p_.substr(0, p_.size() - 3) + "KDT"; }
  std::string journal() const { return p_ + ".edits"; }

  // The first bill (1-based) whose record straddles a sector boundary, or lies inside one.
  int bill_that_straddles(bool straddles) const {
    for (int k = 0;; ++k) {
      const int64_t at = data_start_ + k * int64_t{record_length_};
      if ((at / 512 != (at + record_length_ - 1) / 512) == straddles) return k + 1;
    }
  }

  Bills live() {
    Bills out;
    const int32_t n = record_count();
    call_command(db_go_first, {});
    for (int32_t i = 0; i < n; ++i) {
      int32_t serial = 0;
      EXPECT_EQ(db_current_serial(&serial), DbCode::Ok);
      if (serial > 0) out[serial] = current_values();
      call_command(db_skip, {});
    }
    return out;
  }

  bool edit(int bill, const Change& c) {
    std::vector<Text> keep;
    return ok(db_go_to, {Value::of_int(bill)}) && db_edit(bill, c.values(&keep)) == DbCode::Ok;
  }

  // The bills once `c` is made to `bill`, from the starting files with the real file system.
  Bills after(int bill, const Change& c) {
    write_bytes(p_, kdb_);
    write_bytes(kdt(), kdt_);
    std::filesystem::remove(journal());
    EXPECT_TRUE(open_db(p_));
    EXPECT_TRUE(edit(bill, c));
    Bills b = live();
    close_db();
    return b;
  }

  void verify(int bill, const Bills& edited, bool done) {
    ASSERT_TRUE(open_db(p_)) << "open fails with " << db_last_error();
    const Bills got = live();
    ASSERT_EQ(got.size(), start_.size());
    for (const auto& [serial, values] : got) {
      if (serial != bill) {
        EXPECT_EQ(values, start_.at(serial)) << "bill " << serial;
      } else if (done) {
        EXPECT_EQ(values, edited.at(serial)) << "a reported edit is lost";
      } else {
        EXPECT_TRUE(values == start_.at(serial) || values == edited.at(serial)) << "torn: " << values;
      }
    }
    // The file takes more: an edit of the same bill and a new bill.
    Change again;
    again.remark = letters(700, 'k');
    again.amount = 77;
    EXPECT_TRUE(edit(bill, again)) << db_last_error();
    EXPECT_EQ(read_text("备注"), letters(700, 'k'));
    EXPECT_TRUE(append_bill(900, "收入", 900, "银行卡", 45000, "new"));
    close_db();
    const CheckReport report = check_database(p_);
    std::string lines;
    for (const std::string& l : report.lines) lines += l + "\n";
    EXPECT_TRUE(report.sound) << lines;
  }

  // Cuts the power after k writes for every k until the edit runs to its end.
  void sweep(int bill, const Change& c) {
    const Bills edited = after(bill, c);
    ASSERT_NE(edited.at(bill), start_.at(bill)) << "the edit changes nothing";
    const int subsets = env_int("PENNACLE_CUT_SUBSETS", 6);
    const auto seed = static_cast<uint32_t>(env_int("PENNACLE_CUT_SEED", 1));
    int points = 0;
    for (int k = 0;; ++k) {
      write_bytes(p_, kdb_);
      write_bytes(kdt(), kdt_);
      std::filesystem::remove(journal());
      FaultFileSystem faults(posix_file_system());
      set_store_file_system(&faults);
      faults.crash_after_writes(k);
      const bool done = open_db(p_) && edit(bill, c);
      close_db();
      set_store_file_system(nullptr);
      // A cut while the replaced chains are freed leaves the edit done: lost space at worst.
      if (done && !faults.crashed()) {
        EXPECT_EQ(faults.unsynced_writes(), 0u) << "success reported before a sync, k=" << k;
      }
      for (int s = -2; s < subsets; ++s) {
        const CutKeeps keeps = s == -2   ? CutKeeps::Nothing
                               : s == -1 ? CutKeeps::Everything
                                         : CutKeeps::RandomSectors;
        const uint32_t subset_seed = seed * 1000003u + static_cast<uint32_t>(k * 131 + s + 2);
        SCOPED_TRACE("cut at write " + std::to_string(k) + ", subset " + std::to_string(s));
        faults.apply_power_cut(keeps, subset_seed);
        verify(bill, edited, done);
        if (HasFailure()) return;
      }
      ++points;
      if (!faults.crashed()) break;
      ASSERT_LT(k, 1000) << "the edit never ends";
    }
    EXPECT_GT(points, 2);
    std::printf("%d cut points, %d disk states checked\n", points, points * (subsets + 2));
  }

  std::string p_, kdb_, kdt_;
  int64_t data_start_ = 0;
  int32_t record_length_ = 0;
  Bills start_;
};

TEST_F(EditPowerCut, StraddlingRecordWithoutARemark) {
  ASSERT_NO_FATAL_FAILURE(build(8, {}));
  Change c;
  c.amount = 12.5;
  c.channel = "银行卡";
  c.type = "收入";
  c.time = 45123.5;
  sweep(bill_that_straddles(true), c);
}

TEST_F(EditPowerCut, StraddlingRecordWhoseRemarkGrows) {
  ASSERT_NO_FATAL_FAILURE(build(8, std::vector<std::string>(8, letters(40, 'a'))));
  Change c;
  c.remark = letters(1300, 'b');  // one block to three
  c.amount = 3.25;
  sweep(bill_that_straddles(true), c);
}

TEST_F(EditPowerCut, StraddlingRecordWhoseRemarkShrinks) {
  ASSERT_NO_FATAL_FAILURE(build(8, std::vector<std::string>(8, letters(1300, 'a'))));
  Change c;
  c.remark = letters(20, 'c');  // three blocks to one
  sweep(bill_that_straddles(true), c);
}

TEST_F(EditPowerCut, RemarkClearedAndRemarkAdded) {
  ASSERT_NO_FATAL_FAILURE(build(8, {"", "", "", letters(600, 'a'), letters(600, 'a')}));
  Change cleared;
  cleared.remark = "";
  cleared.channel = "现金";
  sweep(bill_that_straddles(true), cleared);
  Change added;
  added.remark = letters(900, 'd');
  sweep(bill_that_straddles(false), added);
}

TEST_F(EditPowerCut, RecordInsideOneSector) {
  ASSERT_NO_FATAL_FAILURE(build(8, std::vector<std::string>(8, letters(300, 'a'))));
  Change c;
  c.amount = 99.75;
  c.remark = letters(520, 'e');
  sweep(bill_that_straddles(false), c);
}

}  // namespace
}  // namespace pennacle
