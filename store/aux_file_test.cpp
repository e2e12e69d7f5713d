#include "store/aux_file.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "store/test_support.h"
#include "testing/fault_file.h"

namespace pennacle {
namespace {

using namespace pennacle::testing;

struct Links {
  int32_t prev, next, used;
};

class AuxChains : public StoreTest {
 protected:
  void SetUp() override {
    StoreTest::SetUp();
    db_ = ledger("c.kdb");
    aux_ = path("c.KDT");
    ASSERT_TRUE(open_db(db_));
  }
  std::string aux() { return read_bytes(aux_); }
  int32_t blocks() { return get32(aux(), 16); }
  int32_t free_count() { return get32(aux(), 20); }
  int32_t first_free() { return get32(aux(), 24); }
  Links links(int32_t b) {
    std::string s = aux();
    return {get32(s, b * 512), get32(s, b * 512 + 4), get32(s, b * 512 + 8)};
  }
  bool add(std::string_view memo) { return append_bill(1, "支出", 1, "微信", 44000, memo); }
  void remove(int n) {
    ASSERT_TRUE(ok(db_go_to, {Value::of_int(n)}));
    ASSERT_TRUE(ok(db_delete));
  }
  // Four bills (blocks 1-3, 4, 5, 6), then the first and third purged: blocks 5, 1, 2, 3 are free,
  // in that order.
  void free_blocks_5_1_2_3() {
    ASSERT_TRUE(add(std::string(1200, 'a')));
    ASSERT_TRUE(add("b"));
    ASSERT_TRUE(add("c"));
    ASSERT_TRUE(add("d"));
    remove(1);
    remove(3);
    ASSERT_TRUE(ok(db_purge));
  }
  std::unique_ptr<File> open_aux() {
    std::unique_ptr<File> f;
    EXPECT_EQ(posix_file_system().open(aux_, FileAccess::ReadWrite, FileShare::DenyNone, &f),
              FileCause::None);
    return f;
  }
  std::string db_, aux_;
};

TEST_F(AuxChains, ChainsOf0And500And501And1500Bytes) {
  ASSERT_TRUE(add(""));
  EXPECT_EQ(blocks(), 1);
  std::string kdb = read_bytes(db_);
  EXPECT_EQ(get32(kdb, kdb.size() - 4), 0);  // an empty memo stores block 0
  EXPECT_EQ(read_text("备注"), "");

  std::string b500(500, 'a'), b501(501, 'b'), b1500;
  for (int i = 0; i < 1500; ++i) b1500 += static_cast<char>('0' + i % 10);
  ASSERT_TRUE(add(b500));
  EXPECT_EQ(blocks(), 2);
  EXPECT_EQ(links(1).used, 500);
  EXPECT_EQ(links(1).next, 0);
  ASSERT_TRUE(add(b501));
  EXPECT_EQ(blocks(), 4);
  EXPECT_EQ(links(2).used, 500);
  EXPECT_EQ(links(2).next, 3);
  EXPECT_EQ(links(3).prev, 2);
  EXPECT_EQ(links(3).used, 1);
  EXPECT_EQ(aux().substr(3 * 512 + 12, 500), "b" + std::string(499, '\0'));  // the rest is zero
  ASSERT_TRUE(add(b1500));
  EXPECT_EQ(blocks(), 7);
  EXPECT_EQ(aux().size(), 7u * 512);
  for (int n = 1; n <= 4; ++n) {
    ASSERT_TRUE(ok(db_go_to, {Value::of_int(n)}));
    EXPECT_EQ(read_text("备注"), (std::vector<std::string>{"", b500, b501, b1500}[n - 1])) << n;
  }
}

TEST_F(AuxChains, FreedBlocksAreReusedAndTrailingFreeBlocksTrimmed) {
  ASSERT_TRUE(add("one"));    // block 1
  ASSERT_TRUE(add("two"));    // block 2
  ASSERT_TRUE(add("three"));  // block 3
  remove(2);
  ASSERT_TRUE(ok(db_purge));
  EXPECT_EQ(blocks(), 4);
  EXPECT_EQ(free_count(), 1);
  EXPECT_EQ(first_free(), 2);
  EXPECT_EQ(links(2).used, 0);
  // Freeing the chain in the last block trims it and the free block before it.
  remove(2);
  ASSERT_TRUE(ok(db_purge));
  EXPECT_EQ(blocks(), 2);
  EXPECT_EQ(free_count(), 0);
  EXPECT_EQ(first_free(), 0);
  EXPECT_EQ(aux().size(), 2u * 512);
  call_command(db_go_first, {});
  EXPECT_EQ(read_text("备注"), "one");
  // A new chain takes a free block before extending the file.
  ASSERT_TRUE(add(std::string(700, 'x')));  // blocks 2, 3
  ASSERT_TRUE(add("tail"));                 // block 4
  remove(2);
  ASSERT_TRUE(ok(db_purge));
  EXPECT_EQ(free_count(), 2);
  ASSERT_TRUE(add("reuse"));
  EXPECT_EQ(blocks(), 5);
  ASSERT_TRUE(ok(db_go_to, {Value::of_int(3)}));
  EXPECT_EQ(read_text("备注"), "reuse");
  ASSERT_TRUE(ok(db_go_to, {Value::of_int(2)}));
  EXPECT_EQ(read_text("备注"), "tail");
}

// Chains of many blocks, and several in one purge, go on the free list whole, each first block
// linked to the chain freed after it.
TEST_F(AuxChains, LongChainsFreedInOnePurge) {
  ASSERT_TRUE(add(std::string(3000, 'a')));  // blocks 1 .. 6
  ASSERT_TRUE(add("keep"));                  // block 7
  ASSERT_TRUE(add(std::string(2100, 'b')));  // blocks 8 .. 12
  ASSERT_TRUE(add("last"));                  // block 13
  remove(1);
  remove(3);
  ASSERT_TRUE(ok(db_purge));
  EXPECT_EQ(free_count(), 11);
  EXPECT_EQ(first_free(), 8);
  EXPECT_EQ(links(8).prev, 0);
  EXPECT_EQ(links(12).next, 1);
  EXPECT_EQ(links(1).prev, 12);
  EXPECT_EQ(links(6).next, 0);
  for (int32_t b : {1, 3, 6, 8, 12}) EXPECT_EQ(links(b).used, 0) << b;
  call_command(db_go_first, {});
  EXPECT_EQ(read_text("备注"), "keep");
  ASSERT_TRUE(ok(db_go_to, {Value::of_int(2)}));
  EXPECT_EQ(read_text("备注"), "last");
}

TEST_F(AuxChains, CyclesAndBlocksOutsideTheFileEndWithMinus59) {
  auto f = open_aux();
  std::string out;
  // Blocks 1 and 2 point at each other.
  std::string s = aux();
  s.resize(3 * 512, '\0');
  put32(s, 16, 3);
  put32(s, 512 + 4, 2);
  put32(s, 512 + 8, 10);
  put32(s, 1024, 1);
  put32(s, 1024 + 4, 1);
  put32(s, 1024 + 8, 10);
  write_bytes(aux_, s);
  EXPECT_EQ(read_chain(*f, 1, &out), DbCode::AuxAccess);
  EXPECT_EQ(free_chain(*f, 1, 0), DbCode::AuxAccess);
  EXPECT_EQ(read_bytes(aux_), s);  // a chain that does not check out is not freed at all
  EXPECT_EQ(read_chain(*f, 9, &out), DbCode::AuxAccess);
  EXPECT_EQ(read_chain(*f, -1, &out), DbCode::AuxAccess);
  put32(s, 1024 + 8, 501);  // used above 500
  put32(s, 1024 + 4, 0);
  write_bytes(aux_, s);
  EXPECT_EQ(read_chain(*f, 1, &out), DbCode::AuxAccess);
  put32(s, 1024 + 8, 3);
  write_bytes(aux_, s);
  EXPECT_EQ(read_chain(*f, 1, &out), DbCode::Ok);
  EXPECT_EQ(out.size(), 13u);
  // The same cycle reached from a record: the read fails, the store goes on.
  ASSERT_TRUE(add("x"));  // takes block 3
  std::string kdb = read_bytes(db_);
  put32(kdb, kdb.size() - 4, 1);
  put32(s, 1024 + 4, 1);
  write_bytes(aux_, s + aux().substr(3 * 512));
  write_bytes(db_, kdb);
  EXPECT_EQ(read_text("备注"), "");
  EXPECT_EQ(db_last_error(), DbCode::AuxAccess);
}

// A chain's blocks in the order given, each holding `used` bytes of one letter per block.
std::string hand_chain(std::string aux, const std::vector<int32_t>& order, int32_t used) {
  const int32_t count = *std::max_element(order.begin(), order.end()) + 1;
  aux.resize(static_cast<size_t>(count) * 512, '\0');
  put32(aux, 16, count);
  for (size_t i = 0; i < order.size(); ++i) {
    const size_t at = static_cast<size_t>(order[i]) * 512;
    put32(aux, at, i ? order[i - 1] : 0);
    put32(aux, at + 4, i + 1 < order.size() ? order[i + 1] : 0);
    put32(aux, at + 8, used);
    aux.replace(at + 12, static_cast<size_t>(used), static_cast<size_t>(used),
                static_cast<char>('a' + i % 26));
  }
  return aux;
}

std::string letters(size_t blocks, size_t used) {
  std::string s;
  for (size_t i = 0; i < blocks; ++i) s += std::string(used, static_cast<char>('a' + i % 26));
  return s;
}

// Blocks that follow one another are read in runs of eight after the first; blocks out of order are
// read where they lie, also when a run already holds them; a run cut by the file's end still gives
// the blocks it holds whole.
TEST_F(AuxChains, ChainsAreReadInRunsOfBlocksThatFollowOneAnother) {
  FaultFileSystem counting(posix_file_system());
  std::unique_ptr<File> f;
  std::string out;
  std::vector<int32_t> order(20);
  for (int32_t i = 0; i < 20; ++i) order[static_cast<size_t>(i)] = i + 1;
  write_bytes(aux_, hand_chain(aux(), order, 500));
  ASSERT_EQ(counting.open(aux_, FileAccess::Read, FileShare::DenyNone, &f), FileCause::None);
  counting.reset();
  EXPECT_EQ(read_chain(*f, 1, &out), DbCode::Ok);
  EXPECT_EQ(out, letters(20, 500));
  EXPECT_EQ(counting.calls(FileOp::Read), 4);  // block 1, then 2-9, 10-17, 18-20

  write_bytes(aux_, hand_chain(aux(), {1, 2, 3, 7, 6, 4, 5}, 100));
  counting.reset();
  EXPECT_EQ(read_chain(*f, 1, &out), DbCode::Ok);
  EXPECT_EQ(out, letters(7, 100));
  EXPECT_EQ(counting.calls(FileOp::Read), 2);  // 1, then 2-9 asked: the file's 2-7 hold the rest

  write_bytes(aux_, hand_chain(aux(), {1, 9, 10, 2}, 100));
  counting.reset();
  EXPECT_EQ(read_chain(*f, 1, &out), DbCode::Ok);
  EXPECT_EQ(out, letters(4, 100));
  EXPECT_EQ(counting.calls(FileOp::Read), 4);  // 1, 9, 10 on, 2

  // The last block is cut short by the file's end.
  std::string s = hand_chain(aux(), {1, 2, 3}, 500);
  write_bytes(aux_, s.substr(0, 3 * 512 + 100));
  EXPECT_EQ(read_chain(*f, 1, &out), DbCode::AuxAccess);
}

// Chains that run into a loop after a lead of any length, the loop of any length: each read fails,
// and before it has read much more than the blocks there are; freeing one writes nothing.
TEST_F(AuxChains, LoopsAfterAnyLeadAreFound) {
  auto f = open_aux();
  constexpr int32_t kBlocks = 40;
  for (int32_t lead = 0; lead < kBlocks; lead += 7) {
    for (int32_t loop = 1; lead + loop < kBlocks; loop += 5) {
      std::string s(static_cast<size_t>(kBlocks + 1) * 512, '\0');
      s.replace(0, 512, aux().substr(0, 512));
      put32(s, 16, kBlocks + 1);
      // Blocks 1 .. lead+loop in order, the last one back to block lead+1.
      const int32_t last = lead + loop;
      for (int32_t b = 1; b <= last; ++b) {
        put32(s, b * 512 + 4, b == last ? lead + 1 : b + 1);
        put32(s, b * 512 + 8, 500);
      }
      write_bytes(aux_, s);
      std::string out;
      EXPECT_EQ(read_chain(*f, 1, &out), DbCode::AuxAccess) << lead << "+" << loop;
      EXPECT_LE(out.size(), 3u * static_cast<size_t>(last) * 500) << lead << "+" << loop;
      EXPECT_EQ(free_chain(*f, 1, 0), DbCode::AuxAccess) << lead << "+" << loop;
      EXPECT_EQ(read_bytes(aux_), s) << lead << "+" << loop;
    }
  }
}

TEST_F(AuxChains, AnUntrustedFreeListIsDroppedNotFollowed) {
  ASSERT_TRUE(add("live"));  // block 1
  // The header claims block 1 is free, as after a crash between a chain write and its header.
  std::string s = aux();
  put32(s, 20, 1);
  put32(s, 24, 1);
  write_bytes(aux_, s);
  ASSERT_TRUE(add("new"));
  EXPECT_EQ(blocks(), 3);  // the file grew instead of handing out block 1 twice
  EXPECT_EQ(free_count(), 0);
  call_command(db_go_first, {});
  EXPECT_EQ(read_text("备注"), "live");
  // Freeing a chain whose first block is already free changes nothing.
  ASSERT_TRUE(add("tail"));  // block 3 keeps block 2 from being trimmed
  auto f = open_aux();
  ASSERT_EQ(free_chain(*f, 2, 0), DbCode::Ok);
  EXPECT_EQ(links(2).used, 0);
  std::string after_first = aux();
  EXPECT_EQ(free_chain(*f, 2, 0), DbCode::Ok);
  EXPECT_EQ(aux(), after_first);
}

TEST_F(AuxChains, FreeListLinksAreDoublyLinked) {
  ASSERT_NO_FATAL_FAILURE(free_blocks_5_1_2_3());
  // Freed in record order: chain 1-2-3 first, then 5 in front of it.
  EXPECT_EQ(first_free(), 5);
  EXPECT_EQ(free_count(), 4);
  EXPECT_EQ(links(5).next, 1);
  EXPECT_EQ(links(5).used, 0);
  EXPECT_EQ(links(1).prev, 5);
  EXPECT_EQ(links(3).next, 0);
  EXPECT_EQ(links(2).prev, 1);
}

// A group appended at once writes its chains under one hold of the header: free blocks first, then
// the end of the file, each block handed out once, each chain reading back as its record's.
TEST_F(AuxChains, AGroupsChainsTakeTheFreeListThenTheEndAndNoBlockTwice) {
  ASSERT_NO_FATAL_FAILURE(free_blocks_5_1_2_3());
  ASSERT_EQ(free_count(), 4);
  auto group = [&](const std::vector<std::string>& memos) {
    std::vector<Text> keep;
    keep.reserve(memos.size() * 3);
    std::vector<std::vector<Value>> rows;
    for (const std::string& m : memos) {
      keep.emplace_back("支出");
      const Value type = keep.back().value();
      keep.emplace_back("微信");
      const Value channel = keep.back().value();
      keep.emplace_back(m);
      rows.push_back({Value::of_double(1), type, Value::of_double(2), channel, Value::of_date_time(44000),
                      keep.back().value()});
    }
    return db_append_rows(rows);
  };
  const std::vector<std::string> memos = {"x", "", std::string(1200, 'y'), "z"};  // 5 blocks
  ASSERT_EQ(group(memos), DbCode::Ok);
  EXPECT_EQ(free_count(), 0);
  EXPECT_EQ(blocks(), 8);  // the four free blocks, then block 7
  std::vector<int32_t> used;
  for (int32_t b = 1; b < blocks(); ++b) {
    if (links(b).used > 0) used.push_back(b);
  }
  EXPECT_EQ(used.size(), 7u);  // b, d and the five new ones: none shared
  for (int n = 3; n <= 6; ++n) {
    ASSERT_TRUE(ok(db_go_to, {Value::of_int(n)}));
    EXPECT_EQ(read_text("备注"), memos[static_cast<size_t>(n - 3)]) << n;
  }
  // A free list that loops back (5 -> 6 -> 5, both marked free) and a header that counts more free
  // blocks than it has: each block is handed out once, then the file grows.
  remove(3);
  remove(2);
  ASSERT_TRUE(ok(db_purge));  // frees 5 ("x") and 6 ("d"); "z" keeps 7 from being trimmed
  std::string s = aux();
  ASSERT_EQ(get32(s, 20), 2);
  const int32_t head = get32(s, 24), other = get32(s, head * 512 + 4);
  put32(s, other * 512 + 4, head);  // the last block links back to the head
  put32(s, 20, 3);
  write_bytes(aux_, s);
  ASSERT_EQ(group({"p", "q", "r"}), DbCode::Ok);
  std::vector<std::string> shown;
  for (int n = 1; n <= 7; ++n) {
    if (!ok(db_go_to, {Value::of_int(n)})) break;
    shown.push_back(read_text("备注"));
  }
  EXPECT_EQ(shown, (std::vector<std::string>{"b", "", std::string(1200, 'y'), "z", "p", "q", "r"}));
  EXPECT_EQ(blocks(), 9);  // the two free blocks once each, then block 8
}

}  // namespace
}  // namespace pennacle

namespace pennacle {
namespace {

using namespace pennacle::testing;

class AuxSharing : public StoreTest {};

TEST_F(AuxSharing, PurgeNeverFreesAChainALiveRecordStillUses) {
  std::string p = ledger("s.kdb");
  ASSERT_TRUE(open_db(p));
  ASSERT_TRUE(append_bill(1, "支出", 1, "微信", 44000, "kept memo"));
  ASSERT_TRUE(append_bill(2, "支出", 2, "微信", 44000, ""));
  close_db();
  // Record 2 becomes a deleted copy pointing at record 1's chain, as after an interrupted purge.
  std::string s = read_bytes(p);
  const size_t r1 = 116 + 72 * 6, r2 = r1 + 112;
  s.replace(r2, 112, s.substr(r1, 112));
  put32(s, r2, -1);
  write_bytes(p, s);
  ASSERT_TRUE(open_db(p));
  ASSERT_TRUE(ok(db_purge));
  EXPECT_EQ(record_count(), 1);
  EXPECT_EQ(read_text("备注"), "kept memo");
  ASSERT_TRUE(append_bill(3, "支出", 3, "微信", 44000, "new memo"));  // must not take block 1
  call_command(db_go_first, {});
  EXPECT_EQ(read_text("备注"), "kept memo");
}

}  // namespace
}  // namespace pennacle
