#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <set>
#include <sstream>

#include "ledger/import/bill_import.h"
#include "ledger/import/export_samples.h"
#include "store/test_support.h"
#include "testing/fault_file.h"
#include "tools/kdbtool.h"
#include "tools/kdbtool_test_support.h"

namespace pennacle {
namespace {

using namespace pennacle::testing;

class BillImport : public ImportTest {
 protected:
  void cut_sweep(const std::string& bytes, const std::function<void(const std::string&)>& prepare,
                 const std::vector<std::string>& want);
};

TEST_F(BillImport, ExportShowsTheImportedBillsExactly) {
  const std::string db = make_ledger(), csv = write_export("alipay.csv", alipay_2023_csv(alipay_rows()));
  ASSERT_EQ(run({"import", db, csv}), 0) << err_.str();
  EXPECT_EQ(out_.str(),
            "added 3, already there 0, neutral skipped 1, failed or closed skipped 3, pending 0, unknown "
            "status 0, refund without its payment 0\n");
  ASSERT_EQ(run({"export", db}), 0) << err_.str();
  // Without rules each bill takes the export's own 交易分类.
  EXPECT_EQ(out_.str(), u8("序号,类型,金额,付款方式,时间,备注,分类\r\n"
                           "1,支出,28.16,支付宝,2023-03-01 12:30:45,示例餐厅 · 午餐套餐,餐饮美食\r\n"
                           "2,收入,100.00,支付宝,2023-03-02 08:00:00,李小红 · 还款,转账红包\r\n"
                           "3,支出,35.50,支付宝,2023-03-07 19:05:09,示例出行 · 快车 4.2公里,交通出行\r\n"));
  ASSERT_EQ(run({"check", db}), 0) << out_.str();
}

TEST_F(BillImport, ImportingAgainAddsNothingAndWritesNothing) {
  const std::string db = make_ledger();
  const std::string csv = write_export("wechat.csv", wechat_csv(wechat_rows()));
  const std::string xlsx = write_export("wechat.xlsx", wechat_xlsx(wechat_rows()));
  ASSERT_EQ(run({"import", db, csv}), 0) << err_.str();
  EXPECT_EQ(out_.str(),
            "added 4, already there 0, neutral skipped 2, failed or closed skipped 1, pending 0, unknown "
            "status 0, refund without its payment 0\n");
  const std::string kdb = read_bytes(db), kdt = read_bytes(path("data.KDT")),
                    log = read_bytes(db + ".imports");
  // The same export again, and the same bills as a workbook: nothing is added.
  for (const std::string& again : {csv, xlsx}) {
    ASSERT_EQ(run({"import", db, again}), 0) << err_.str();
    EXPECT_EQ(out_.str(),
              "added 0, already there 4, neutral skipped 2, failed or closed skipped 1, pending 0, unknown "
              "status 0, refund without its payment 0\n");
  }
  EXPECT_EQ(read_bytes(db), kdb);
  EXPECT_EQ(read_bytes(path("data.KDT")), kdt);
  EXPECT_EQ(read_bytes(db + ".imports"), log);
  EXPECT_EQ(bills(db).size(), 4u);
  EXPECT_NE(bills(db)[0].find(u8("支出,28.16,微信,2023-03-01 12:30:45,示例超市 · 商品A")), std::string::npos);
}

TEST_F(BillImport, AnOverlappingExportAddsOnlyTheNewBills) {
  const std::string db = make_ledger();
  const std::string first = write_export("1.csv", alipay_2023_csv(many_rows(0, 30)));
  const std::string second = write_export("2.csv", alipay_pc_csv(many_rows(20, 30)));
  ASSERT_EQ(run({"import", db, first}), 0) << err_.str();
  ASSERT_EQ(run({"import", db, second}), 0) << err_.str();
  EXPECT_EQ(out_.str(),
            "added 20, already there 10, neutral skipped 0, failed or closed skipped 0, pending 0, unknown "
            "status 0, refund without its payment 0\n");
  const std::vector<std::string> all = bills(db);
  EXPECT_EQ(all.size(), 50u);
  EXPECT_EQ(std::set<std::string>(all.begin(), all.end()).size(), 50u);
  // Same order number and time but another amount is another bill; so is another order number.
  std::vector<SampleRow> changed = many_rows(0, 2);
  changed[0].amount = "999.00";
  changed[1].order += "9";
  ASSERT_EQ(run({"import", db, write_export("3.csv", alipay_2023_csv(changed))}), 0) << err_.str();
  EXPECT_EQ(out_.str(),
            "added 2, already there 0, neutral skipped 0, failed or closed skipped 0, pending 0, unknown "
            "status 0, refund without its payment 0\n");
}

TEST_F(BillImport, ADryRunListsTheBillsWithTotalsAndWritesNothing) {
  const std::string db = make_ledger(), csv = write_export("a.csv", alipay_2023_csv(alipay_rows()));
  const std::string before = read_bytes(db);
  ASSERT_EQ(run({"import", db, csv, "--dry-run"}), 0) << err_.str();
  const std::string listing = out_.str();
  EXPECT_NE(listing.find(u8("时间")), std::string::npos);
  EXPECT_NE(listing.find(u8("2023-03-07 19:05:09  支出   35.5  支付宝    示例出行 · 快车 4.2公里")),
            std::string::npos)
      << listing;
  EXPECT_NE(listing.find(u8("3 bill(s): 支出 2, total 63.66; 收入 1, total 100")), std::string::npos)
      << listing;
  EXPECT_NE(listing.find("would add 3, already there 0, neutral skipped 1, failed or closed skipped 3"),
            std::string::npos);
  EXPECT_EQ(read_bytes(db), before);
  EXPECT_FALSE(std::filesystem::exists(db + ".imports"));
  // After a real import, a dry run lists nothing; our own CSV lists its bills the same way.
  ASSERT_EQ(run({"import", db, csv}), 0);
  ASSERT_EQ(run({"import", db, csv, "--dry-run"}), 0);
  EXPECT_NE(out_.str().find("0 bill(s)"), std::string::npos);
  const std::string own = write_export("own.csv", u8("支出,12.5,微信,2024-03-01 08:30:00,午饭\n"));
  const std::string after = read_bytes(db);
  ASSERT_EQ(run({"import", db, own, "--dry-run"}), 0) << err_.str();
  EXPECT_NE(out_.str().find(u8("1 bill(s): 支出 1, total 12.5")), std::string::npos) << out_.str();
  EXPECT_EQ(read_bytes(db), after);
}

TEST_F(BillImport, BillsTheLedgerNoLongerHoldsAreImportedAgain) {
  const std::string db = make_ledger();
  ASSERT_EQ(run({"import", db, write_export("1.csv", alipay_2023_csv(many_rows(0, 10)))}), 0);
  const std::string backup_kdb = read_bytes(db), backup_kdt = read_bytes(path("data.KDT"));
  ASSERT_EQ(run({"import", db, write_export("2.csv", alipay_2023_csv(many_rows(10, 5)))}), 0);
  const std::vector<std::string> fifteen = bills(db);
  ASSERT_EQ(fifteen.size(), 15u);
  // The backup holds the first ten; its next serial hands out again the serials the lost five had.
  write_bytes(db, backup_kdb);
  write_bytes(path("data.KDT"), backup_kdt);
  const std::string all = write_export("all.csv", alipay_2023_csv(many_rows(0, 15)));
  ASSERT_EQ(run({"import", db, all}), 0) << err_.str();
  EXPECT_EQ(out_.str(),
            "added 5, already there 10, neutral skipped 0, failed or closed skipped 0, pending 0, unknown "
            "status 0, refund without its payment 0\n");
  expect_each_once(db, fifteen);
  // A bill deleted from the ledger is not there any more either.
  ASSERT_TRUE(open_db(db));
  ASSERT_TRUE(ok(db_go_to, {Value::of_int(3)}));
  ASSERT_TRUE(ok(db_delete));
  ASSERT_TRUE(ok(db_purge));
  close_db();
  ASSERT_EQ(run({"import", db, all}), 0) << err_.str();
  EXPECT_EQ(out_.str(),
            "added 1, already there 14, neutral skipped 0, failed or closed skipped 0, pending 0, unknown "
            "status 0, refund without its payment 0\n");
  expect_each_once(db, fifteen);
}

// Cuts an import of `bytes` into a ledger made by `prepare` at every write, with a power cut that
// keeps none, all or some sectors of what was not synced; the next import must leave `want` (the
// lines of kdbtool export, categories included).
void BillImport::cut_sweep(const std::string& bytes, const std::function<void(const std::string&)>& prepare,
                           const std::vector<std::string>& want) {
  BillImportOptions cut;
  cut.group_size = 4;  // three groups: the cut falls before, inside and after each
  bool finished = false;
  for (int k = 0; !finished; ++k) {
    for (const char* f : {"c.kdb", "c.KDT", "c.kdb.imports", "c.kdb.categories"})
      std::filesystem::remove(path(f));
    const std::string db = make_ledger("c.kdb");
    prepare(db);
    FaultFileSystem faults(posix_file_system());
    cut.fs = &faults;
    faults.crash_after_writes(k);
    set_store_file_system(&faults);
    const Status imported = import_bill_export(db, "x.csv", bytes, cut, out_, err_);
    ASSERT_NE(imported.code(), StatusCode::NotFound);
    finished = !faults.crashed();
    EXPECT_EQ(imported.ok(), finished) << imported.message();
    set_store_file_system(nullptr);
    // None, all, and seeded random subsets of the sectors not synced (PENNACLE_CUT_SUBSETS of them).
    const char* subsets = std::getenv("PENNACLE_CUT_SUBSETS");
    const int variants = 2 + (subsets ? std::max(1, std::atoi(subsets)) : 3);
    for (int variant = 0; variant < variants; ++variant) {
      SCOPED_TRACE("cut after write " + std::to_string(k) + ", variant " + std::to_string(variant));
      const CutKeeps keeps = variant == 0   ? CutKeeps::Nothing
                             : variant == 1 ? CutKeeps::Everything
                                            : CutKeeps::RandomSectors;
      faults.apply_power_cut(keeps, static_cast<uint32_t>(k * 31 + variant));
      ASSERT_EQ(run({"import", db, path("x.csv")}), 0) << err_.str();
      // Each bill once, with the category it has after an import that was never cut.
      const std::vector<std::string> got = export_lines(db);
      EXPECT_EQ(std::multiset<std::string>(got.begin(), got.end()),
                std::multiset<std::string>(want.begin(), want.end()));
      ASSERT_EQ(run({"check", db}), 0) << out_.str();
    }
    ASSERT_LT(k, 1000);
    if (finished) std::printf("%d cut points, %d disk states each\n", k + 1, variants);
  }
}

TEST_F(BillImport, AnImportCutAtAnyWriteOrByAPowerCutIsFinishedByTheNextOne) {
  const std::string bytes = alipay_2023_csv(many_rows(0, 10));
  const std::string clean = make_ledger("clean.kdb");
  ASSERT_EQ(run({"import", clean, write_export("x.csv", bytes)}), 0) << err_.str();
  const std::vector<std::string> want = export_lines(clean);
  cut_sweep(
      bytes, [](const std::string&) {}, want);
  // Bills imported before, some deleted since: their old entries must not hide the new ones.
  cut_sweep(
      bytes,
      [&](const std::string& db) {
        ASSERT_EQ(run({"import", db, path("x.csv")}), 0) << err_.str();
        ASSERT_TRUE(open_db(db));
        for (int n : {2, 5, 9}) {
          ASSERT_TRUE(ok(db_go_to, {Value::of_int(n)}));
          ASSERT_TRUE(ok(db_delete));
        }
        ASSERT_TRUE(ok(db_purge));
        close_db();
      },
      want);
}

// A cut in an import whose log holds marks, closed payments, waiting refunds and bills found by
// their values: the next import never takes the torn end for damage, books each pair once and
// adds no bill twice.
TEST_F(BillImport, ACutLeavesALogTheNextImportTrustsAndNoPairTwice) {
  std::vector<SampleRow> jan = many_rows(0, 6), feb = many_rows(6, 5);
  const SampleRow closed = {
      "2023-01-20 10:00:00",          "服饰装扮", "示例商城", "外套", "支出", "50.00", "交易关闭",
      "2023012022001400000000000302", "MJ302"};
  const SampleRow paid = {
      "2023-01-21 10:00:00",          "数码电器", "示例商城", "键盘", "支出", "100.00", "交易成功",
      "2023012122001400000000000401", "MK401"};
  SampleRow refund_closed = closed, refund_paid = paid, refund_early = paid;
  refund_closed = {"2023-02-02 10:00:00", "退款", "示例商城", "退款-外套", "不计收支", "50.00", "退款成功",
                   closed.order + "_1",   "MJ302"};
  refund_paid = {"2023-02-03 10:00:00", "退款", "示例商城", "退款-键盘", "不计收支", "30.00", "退款成功",
                 paid.order + "_1",     "MK401"};
  const SampleRow late = {
      "2023-02-05 10:00:00",          "日用百货", "示例商店", "台灯", "支出", "45.00", "交易成功",
      "2023020522001400000000000501", "ML501"};
  refund_early = {"2023-02-06 10:00:00", "退款", "示例商店", "退款-台灯", "不计收支", "45.00", "退款成功",
                  late.order + "_1",     "ML501"};
  jan.insert(jan.end(), {closed, paid, refund_early});
  feb.insert(feb.end(), {refund_closed, refund_paid, late});
  const std::string jan_csv = write_export("jan.csv", alipay_2023_csv(jan));
  const std::string bytes = alipay_2023_csv(feb);
  write_export("x.csv", bytes);
  for (const bool keep_log : {true, false}) {
    SCOPED_TRACE(keep_log ? "with the log" : "without the log");
    const auto prepare = [&](const std::string& db) {
      ASSERT_EQ(run({"import", db, jan_csv}), 0) << err_.str();
      if (!keep_log) std::filesystem::remove(db + ".imports");
    };
    const std::string clean = make_ledger(keep_log ? "clean1.kdb" : "clean2.kdb");
    prepare(clean);
    ASSERT_EQ(run({"import", clean, path("x.csv")}), 0) << err_.str();
    const std::vector<std::string> want = export_lines(clean);
    // With the log, January's refund waiting for February's payment is booked, and so is the
    // refund of January's paid payment; the closed one's refund is not.
    EXPECT_EQ(want.size(), keep_log ? 15u : 13u);
    cut_sweep(bytes, prepare, want);
  }
}

TEST_F(BillImport, AKilledImportIsFinishedByTheNextOne) {
  constexpr int kBills = 1500;
  constexpr uint64_t kRecordLength = 112, kDataStart = 116 + 72 * 6;
  const std::string db = make_ledger();
  const std::string csv = write_export("many.csv", alipay_2023_csv(many_rows(0, kBills)));
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    std::ostringstream out, err;
    _exit(kdbtool_main({"import", db, csv}, out, err));
  }
  // Kill it once it has stored some bills (or let it be, should it finish first).
  int status = 0;
  while (waitpid(child, &status, WNOHANG) == 0) {
    std::error_code ec;
    if (std::filesystem::file_size(db, ec) > kDataStart + 100 * kRecordLength) {
      kill(child, SIGKILL);
      waitpid(child, &status, 0);
      break;
    }
    usleep(500);
  }
  ASSERT_EQ(run({"import", db, csv}), 0) << err_.str();
  const std::vector<std::string> all = bills(db);
  EXPECT_EQ(all.size(), static_cast<size_t>(kBills));
  EXPECT_EQ(std::set<std::string>(all.begin(), all.end()).size(), static_cast<size_t>(kBills));
  ASSERT_EQ(run({"check", db}), 0) << out_.str();
}

TEST_F(BillImport, WhatCannotBeImportedWritesNothingAndSaysWhy) {
  const std::string db = make_ledger();
  const std::string before = read_bytes(db);
  struct Case {
    std::string bytes;
    std::vector<std::string> args;
    std::string says;  // UTF-8
  };
  std::vector<SampleRow> bad = alipay_rows();
  bad[6].amount = "-";
  const std::string alipay = alipay_2023_csv(bad);
  const auto header = static_cast<long>(alipay.find("交易时间,"));
  const int bad_line = 2 + static_cast<int>(std::count(alipay.begin(), alipay.begin() + header, '\n')) + 6;
  const Case cases[] = {
      {"\xB2\xE2\xCA\xD4\n\xB2\xE2\xCA\xD4\n", {}, u8("交易订单号")},  // GBK text, one cell a line
      {u8("随便写点什么\n"), {}, "not a bill export and not a ledger CSV"},
      {alipay, {}, "line " + std::to_string(bad_line) + u8(": 金额 '-' is not an amount")},
      {alipay_2023_csv(alipay_rows()), {"--from", "wechat"}, "no WeChat Pay header row"},
      {wechat_csv(wechat_rows()), {"--from", "alipay"}, "no Alipay header row"},
      {"PK\x03\x04", {}, "zip"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args = {"import", db, write_export("bad", c.bytes)};
    args.insert(args.end(), c.args.begin(), c.args.end());
    EXPECT_EQ(run(args), 1) << c.says;
    EXPECT_NE(err_.str().find(c.says), std::string::npos) << err_.str();
  }
  EXPECT_EQ(run({"import", db, path("bad"), "--from", "paypal"}), 1);
  EXPECT_EQ(read_bytes(db), before);
  EXPECT_FALSE(std::filesystem::exists(db + ".imports"));
  // A ledger whose 金额 would lose the cents is not a ledger for exports.
  const std::string ints = path("ints.kdb");
  ASSERT_EQ(run({"create", ints, "--field", u8("序号:double"), "--field", u8("类型:text:16"), "--field",
                 u8("金额:int"), "--field", u8("付款方式:text:64"), "--field", u8("时间:datetime"), "--field",
                 u8("备注:memo")}),
            0)
      << err_.str();
  EXPECT_EQ(run({"import", ints, write_export("ok.csv", alipay_2023_csv(alipay_rows()))}), 1);
  EXPECT_NE(err_.str().find(u8("金额 must be double or float")), std::string::npos) << err_.str();
}

// What the EXPORT argument names must be a file or a pipe holding an export: anything else is
// refused with a reason and exit status 1, and nothing is written.
TEST_F(BillImport, InputsThatAreNoExportAreRefusedWithAReason) {
  const std::string db = make_ledger();
  const std::string before = read_bytes(db);
  std::filesystem::create_directory(path("folder"));
  const std::pair<std::string, std::string> cases[] = {
      {path("folder"), "is a directory"},
      {"/dev/zero", "a device"},
      {"/dev/null", "a device"},
      {write_export("empty.csv", ""), "is empty: not an export"},
      {write_export("bom.csv", "\xEF\xBB\xBF\r\n"), "is empty: not an export"},
      {path("missing.csv"), "cannot read"},
  };
  for (const auto& [file, says] : cases) {
    EXPECT_EQ(run({"import", db, file}), 1) << file;
    EXPECT_NE(err_.str().find(file + ": "), std::string::npos) << err_.str();
    EXPECT_NE(err_.str().find(says), std::string::npos) << err_.str();
  }
  EXPECT_EQ(read_bytes(db), before);
  EXPECT_FALSE(std::filesystem::exists(db + ".imports"));
}

// A child writing `bytes` into a pipe, or writing without end when `bytes` is empty; returns the
// read end's path.
class PipeWriter {
 public:
  explicit PipeWriter(const std::string& bytes) {
    int fds[2];
    if (pipe(fds) != 0) return;
    child_ = fork();
    if (child_ == 0) {
      close(fds[0]);
      const std::string chunk = bytes.empty() ? std::string(1 << 16, 'x') : bytes;
      do {
        for (size_t at = 0; at < chunk.size();) {
          const ssize_t n = write(fds[1], chunk.data() + at, chunk.size() - at);
          if (n <= 0) _exit(0);
          at += static_cast<size_t>(n);
        }
      } while (bytes.empty());
      _exit(0);
    }
    close(fds[1]);
    fd_ = fds[0];
  }
  ~PipeWriter() {
    if (fd_ >= 0) close(fd_);
    if (child_ > 0) {
      kill(child_, SIGKILL);
      waitpid(child_, nullptr, 0);
    }
  }
  std::string path() const { return "/dev/fd/" + std::to_string(fd_); }

 private:
  int fd_ = -1;
  pid_t child_ = -1;
};

TEST_F(BillImport, APipeIsReadWithTheSameLimitAsAFile) {
  const std::string db = make_ledger();
  {
    PipeWriter export_pipe(wechat_csv(wechat_rows()));
    ASSERT_EQ(run({"import", db, export_pipe.path()}), 0) << err_.str();
    EXPECT_EQ(out_.str().substr(0, 8), "added 4,");
  }
  // The bytes are counted as they arrive: a pipe without end stops at the limit, like a file.
  PipeWriter endless("");
  Result<std::string> read = read_export_input(endless.path(), 1 << 20);
  ASSERT_FALSE(read.ok());
  EXPECT_NE(read.status().message().find("larger than the 1 MB an import reads"), std::string::npos)
      << read.status().message();
  const std::string big = write_export("big.csv", std::string((1 << 20) + 1, 'x'));
  read = read_export_input(big, 1 << 20);
  ASSERT_FALSE(read.ok());
  EXPECT_NE(read.status().message().find("larger than the 1 MB"), std::string::npos);
  const std::string exact = write_export("exact.csv", std::string(1 << 20, 'x'));
  read = read_export_input(exact, 1 << 20);
  ASSERT_TRUE(read.ok()) << read.status().message();
  EXPECT_EQ(read->size(), 1u << 20);
}

TEST_F(BillImport, AnUnknownOptionIsNamed) {
  const std::string db = make_ledger(), csv = write_export("a.csv", alipay_2023_csv(alipay_rows()));
  for (const char* option : {"--bogus", "-x", "--dry"}) {
    EXPECT_EQ(run({"import", db, csv, option}), 1);
    EXPECT_NE(err_.str().find(std::string("unknown option '") + option + "'"), std::string::npos)
        << err_.str();
  }
  EXPECT_FALSE(std::filesystem::exists(db + ".imports"));
}

// A workbook's rows are named by sheet and row, never by a line.
TEST_F(BillImport, WorkbookRowsAreNamedBySheetAndRow) {
  const std::string db = make_ledger();
  std::vector<SampleRow> rows = wechat_rows();
  rows[0].amount = "abc";
  const std::vector<std::vector<XlsxCell>> notes = {{{u8("说明")}}};
  const std::string book =
      write_export("w.xlsx", make_workbook({{u8("说明"), notes}, {u8("账单"), wechat_sheet(rows)}}));
  EXPECT_EQ(run({"import", db, book}), 1);
  EXPECT_NE(err_.str().find(book + u8(": sheet 账单, row 18: 金额 'abc' is not an amount")),
            std::string::npos)
      << err_.str();
  EXPECT_EQ(err_.str().find("line"), std::string::npos) << err_.str();
}

TEST_F(BillImport, ARemarkIsCutToATextFieldOnACharacterBoundary) {
  const std::string db = path("narrow.kdb");
  ASSERT_EQ(run({"create", db, "--field", u8("序号:double"), "--field", u8("类型:text:16"), "--field",
                 u8("金额:double"), "--field", u8("付款方式:text:64"), "--field", u8("时间:datetime"),
                 "--field", u8("备注:text:10")}),
            0)
      << err_.str();
  const std::string csv = write_export("a.csv", alipay_2023_csv(alipay_rows()));
  ASSERT_EQ(run({"import", db, csv}), 0) << err_.str();
  EXPECT_NE(out_.str().find("the remark is cut to 9 bytes"), std::string::npos) << out_.str();
  const std::vector<std::string> got = bills(db);
  ASSERT_EQ(got.size(), 3u);
  EXPECT_NE(got[0].find(u8(",示例餐厅 \r")), std::string::npos) << got[0];  // 10 bytes would split the dot
  ASSERT_EQ(run({"import", db, csv}), 0) << err_.str();
  EXPECT_EQ(out_.str().substr(out_.str().find("added")),
            "added 0, already there 3, neutral skipped 1, failed or closed skipped 3, pending 0, unknown "
            "status 0, refund without its payment 0\n");
}

}  // namespace
}  // namespace pennacle
