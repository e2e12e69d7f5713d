#include "app/ledger.h"

#include <gtest/gtest.h>
#include <stdio.h>

#include <chrono>
#include <cmath>
#include <filesystem>
#include <memory>
#include <thread>
#include <tuple>

#include "app/date_format.h"
#include "app/ledger_test_support.h"
#include "ledger/bill.h"
#include "platform/file.h"
#include "runtime/fatal.h"
#include "runtime/program_end.h"
#include "runtime/worker_thread.h"
#include "store/paths.h"
#include "store/record_store.h"
#include "testing/fatal_capture.h"
#include "testing/fault_file.h"

namespace pennacle {
namespace {

using testing::append_bill;
using testing::RecordingView;
using testing::stored_bills;
using testing::TempDir;

using testing::FatalCaught;
using testing::throw_fatal;

double now_time() { return current_date_time(); }

std::vector<std::string> lines_of(const std::string& s) {
  std::vector<std::string> out;
  size_t start = 0;
  for (size_t at; (at = s.find("\r\n", start)) != std::string::npos; start = at + 2)
    out.push_back(s.substr(start, at - start));
  out.push_back(s.substr(start));
  return out;
}

using Ledger = testing::LedgerFixture;

TEST_F(Ledger, StartOnAnEmptyFileConnectsAndShowsZeros) {
  start();
  EXPECT_EQ(view_.caption, "Pennacle           --连接数据库成功...");
  EXPECT_EQ(view_.date_label, FormatDateTime(std::nullopt, 0, 1).str());
  EXPECT_TRUE(view_.choices_selected);
  EXPECT_EQ(view_.skins_applied, std::vector<int32_t>{27});
  EXPECT_TRUE(view_.rows().empty());
  EXPECT_EQ(view_.clears(), 1);
  for (int p : {1, 3, 5}) EXPECT_EQ(view_.pane(p), "0");
  EXPECT_EQ(view_.pane(0), "本日记录:");
  EXPECT_TRUE(view_.boxes().empty());
  MainWindow_Destroyed(0, nullptr, nullptr);
  started_ = false;
  EXPECT_EQ(view_.skins_detached, 1);
}

// The summary of an empty file: six zero lines in the fixed fifteen-line form.
TEST_F(Ledger, SummaryOfAnEmptyFile) {
  start();
  Summary_Click(0, nullptr, nullptr);
  const std::string date = FormatDateTime(std::nullopt, 0, 1).str();
  const std::string expected = "   " + date +
                               "\r\n*******************"
                               "\r\n今日支出:0\r\n"
                               "\r\n今日收入:0\r\n"
                               "\r\n本月支出:0\r\n"
                               "\r\n本月收入:0\r\n"
                               "\r\n今年支出:0\r\n"
                               "\r\n今年收入:0\r\n"
                               "\r\n*******************";
  EXPECT_EQ(view_.clipboard, expected);
  EXPECT_EQ(lines_of(expected).size(), 15u);
  auto boxes = view_.boxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text, expected);
  EXPECT_EQ(boxes[0].style, 0);
  EXPECT_EQ(boxes[0].title, "复制成功");
}

TEST_F(Ledger, SummaryWhenTheClipboardFails) {
  start();
  view_.clipboard_works = false;
  Summary_Click(0, nullptr, nullptr);
  auto boxes = view_.boxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text, "复制失败!");
  EXPECT_EQ(boxes[0].style, 0x10);
  EXPECT_EQ(boxes[0].title, "(default)");
}

TEST(SummaryText, SumsInTheGeneralNumberForm) {
  PeriodTotals t{5, 0, 12.5, 3, 0.1 + 0.2, 1e13};
  const auto lines = lines_of(SummaryText(t, "2020年08月11日"));
  ASSERT_EQ(lines.size(), 15u);
  EXPECT_EQ(lines[0], "   2020年08月11日");
  EXPECT_EQ(lines[1], std::string(19, '*'));
  EXPECT_EQ(lines[2], "今日支出:5");
  EXPECT_EQ(lines[4], "今日收入:0");
  EXPECT_EQ(lines[6], "本月支出:12.5");
  EXPECT_EQ(lines[8], "本月收入:3");
  EXPECT_EQ(lines[10], "今年支出:0.3");
  EXPECT_EQ(lines[12], "今年收入:1e+013");
  for (int i : {3, 5, 7, 9, 11, 13}) EXPECT_EQ(lines[i], "");
  EXPECT_EQ(lines[14], std::string(19, '*'));
}

TEST_F(Ledger, AmountsThatAreNotAboveTheMinimumAreRefused) {
  start();
  for (const char* amount : {"0", "0.0000001", "-5", ".", "", "0.00000001", "1e999", "-1e999"}) {
    SCOPED_TRACE(amount);
    type_bill("支出", amount, "支付宝");
    const size_t before = view_.boxes().size();
    add();
    auto boxes = view_.boxes();
    ASSERT_EQ(boxes.size(), before + 1);
    EXPECT_EQ(boxes.back().text, "数据不能为空!");
    EXPECT_EQ(boxes.back().style, 0x10);
  }
  type_bill("", "5", "支付宝");
  add();
  EXPECT_EQ(last_box(), "数据不能为空!");
  type_bill("支出", "5", "");
  add();
  EXPECT_EQ(last_box(), "数据不能为空!");
  EXPECT_TRUE(stored_bills().empty());
  EXPECT_EQ(view_.clears(), 1) << "a refused bill starts no refresh";
}

TEST_F(Ledger, AnAmountIsReadAsFarAsItFormsANumber) {
  start();
  type_bill("收入", "1-2", "微信");
  add();
  EXPECT_EQ(last_box(), "添加成功");
  auto bills = stored_bills();
  ASSERT_EQ(bills.size(), 1u);
  EXPECT_EQ(bills[0].amount, 1.0);
}

TEST_F(Ledger, AddStoresTheBillAndRefreshesAfterTheBox) {
  start();
  type_bill("支出", "0.01", "微信");
  const double before = now_time();
  add();
  const double after = now_time();
  auto boxes = view_.boxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text, "添加成功");
  EXPECT_EQ(boxes[0].style, 0x40);
  EXPECT_EQ(boxes[0].title, "(default)");
  auto bills = stored_bills();
  ASSERT_EQ(bills.size(), 1u);
  EXPECT_EQ(bills[0].number, 1.0);
  EXPECT_EQ(bills[0].type, "支出");
  EXPECT_EQ(bills[0].amount, 0.01);
  EXPECT_EQ(bills[0].method, "微信");
  EXPECT_EQ(bills[0].remark, "");
  EXPECT_GE(bills[0].time, before);
  EXPECT_LE(bills[0].time, after);
  EXPECT_NEAR(bills[0].time * 86400, std::round(bills[0].time * 86400), 1e-3) << "whole seconds";
  auto rows = view_.rows();
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0][0], "1");
  EXPECT_EQ(rows[0][1], "支出");
  EXPECT_EQ(rows[0][2], "0.01");
  EXPECT_EQ(rows[0][3], "微信");
  EXPECT_EQ(rows[0][4], date_time_to_text(bills[0].time));
  EXPECT_EQ(rows[0][5], "");
  EXPECT_EQ(last_period_totals().todayExpense, 0.01);
  EXPECT_EQ(last_period_totals().todayIncome, 0.0);
  // The inputs keep their contents: the same bill again is one more click.
  add();
  EXPECT_EQ(stored_bills().size(), 2u);
  EXPECT_EQ(view_.pane(1), "2");
}

TEST_F(Ledger, ATypedPaymentChannelIsStoredAsTyped) {
  start();
  type_bill("收入", "12.5", "现金", "工资\r\n第二行");
  add();
  auto bills = stored_bills();
  ASSERT_EQ(bills.size(), 1u);
  EXPECT_EQ(bills[0].method, "现金");
  EXPECT_EQ(view_.rows()[0][3], "现金");
  view_.select(0);
  ViewRemark_Click(0, nullptr, nullptr);
  EXPECT_EQ(last_box(), "工资\r\n第二行");
  EXPECT_EQ(view_.boxes().back().style, 0x40);
}

TEST_F(Ledger, AFailedAppendSaysSoAndDoesNotRefresh) {
  start();
  FaultFileSystem faults(posix_file_system());
  FileSystem* previous = set_store_file_system(&faults);
  // Re-open through the failing file layer.
  call_command(db_close, {});
  const Text path(ledger_data_path());
  ASSERT_TRUE(call_command(db_open, {path.value()}).lo);
  faults.fail_nth(FileOp::Write, 1, FileCause::DiskFull);
  type_bill("支出", "5", "支付宝");
  add();
  set_store_file_system(previous);
  EXPECT_EQ(last_box(), "添加记录失败!");
  EXPECT_EQ(view_.boxes().back().style, 0x10);
  EXPECT_EQ(view_.clears(), 1);
}

TEST_F(Ledger, RunningNumbersAfterADelete) {
  start();
  type_bill("支出", "1", "支付宝");
  for (int i = 0; i < 3; ++i) add();
  add();
  EXPECT_EQ(stored_bills().back().number, 4.0);
  view_.select(1);
  DeleteRecord_Click(0, nullptr, nullptr);
  wait_for_refreshes();
  add();
  auto bills = stored_bills();
  ASSERT_EQ(bills.size(), 4u);
  EXPECT_EQ(bills.back().number, 4.0) << "three records, so the new one is 4 again";
}

// The window follows its two files. A bill another program stores shows on the kernel's news of
// the change; news of the window's own add or delete (the kernel cannot tell who wrote) rebuilds
// nothing more, and neither does news of a change that left the files as they are shown.
TEST_F(Ledger, ChangesByOthersShowOnTheirNewsAndTheWindowsOwnOnlyOnce) {
  start();
  ASSERT_NE(view_.files_changed, nullptr);
  ASSERT_EQ(view_.followed.size(), 2u);
  EXPECT_EQ(view_.followed[0], ledger_data_path());
  EXPECT_EQ(view_.followed[1], aux_path_of(ledger_data_path()));
  const auto news = [&] {
    view_.files_changed();
    wait_for_refreshes();
  };
  const int first = view_.clears();
  news();
  EXPECT_EQ(view_.clears(), first) << "nothing changed";

  ASSERT_TRUE(append_bill("收入", 30, "银行卡", now_time(), "另一个程序"));
  EXPECT_TRUE(view_.rows().empty());
  news();
  ASSERT_EQ(view_.rows().size(), 1u);
  EXPECT_EQ(view_.rows()[0][5], "另一个程序");
  EXPECT_EQ(view_.pane(1), "1");
  EXPECT_EQ(last_period_totals().todayIncome, 30.0);
  const int after_news = view_.clears();
  EXPECT_EQ(after_news, first + 1);

  type_bill("支出", "4", "微信");
  add();
  view_.select(0);
  DeleteRecord_Click(0, nullptr, nullptr);
  wait_for_refreshes();
  const int after_own = view_.clears();
  EXPECT_EQ(after_own, after_news + 2) << "one rebuild for the add, one for the delete";
  news();
  news();
  EXPECT_EQ(view_.clears(), after_own) << "the window's own writes were rebuilt twice";
  ASSERT_EQ(view_.rows().size(), 1u);
  EXPECT_EQ(view_.rows()[0][2], "4");

  // Once the window is gone, news changes nothing and follows nothing.
  MainWindow_Destroyed(0, nullptr, nullptr);
  started_ = false;
  EXPECT_TRUE(view_.followed.empty());
}

// Without a thread for the refresh the list would stay behind the file: it is refreshed at once.
TEST_F(Ledger, WithoutAThreadTheRefreshRunsAtOnce) {
  start();
  refuse_worker_threads_for_test(true);
  type_bill("支出", "2.5", "微信");
  add();
  const auto rows = view_.rows();
  const double expense = last_period_totals().todayExpense;
  view_.select(0);
  DeleteRecord_Click(0, nullptr, nullptr);
  const auto after_delete = view_.rows();
  refuse_worker_threads_for_test(false);
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0][2], "2.5");
  EXPECT_EQ(expense, 2.5);
  EXPECT_TRUE(after_delete.empty());
  EXPECT_TRUE(stored_bills().empty());
}

TEST_F(Ledger, DeleteRowTwoOfThree) {
  start();
  const double t = now_time();
  ASSERT_TRUE(append_bill("支出", 1, "a", t, "one"));
  ASSERT_TRUE(append_bill("支出", 2, "b", t, "two"));
  ASSERT_TRUE(append_bill("收入", 3, "c", t, "three"));
  refresh();
  view_.select(1);
  DeleteRecord_Click(0, nullptr, nullptr);
  wait_for_refreshes();
  EXPECT_TRUE(view_.boxes().empty()) << "no question and no message";
  auto bills = stored_bills();
  ASSERT_EQ(bills.size(), 2u);
  EXPECT_EQ(bills[0].remark, "one");
  EXPECT_EQ(bills[1].remark, "three");
  auto rows = view_.rows();
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0][0], "1");
  EXPECT_EQ(rows[0][5], "one");
  EXPECT_EQ(rows[1][0], "2");
  EXPECT_EQ(rows[1][5], "three");
  EXPECT_EQ(view_.pane(1), "2");
}

TEST_F(Ledger, NoSelectedRowDeletesAndShowsNothing) {
  start();
  ASSERT_TRUE(append_bill("支出", 1, "a", now_time(), ""));
  refresh();
  const int clears = view_.clears();
  DeleteRecord_Click(0, nullptr, nullptr);
  ViewRemark_Click(0, nullptr, nullptr);
  wait_for_refreshes();
  EXPECT_EQ(stored_bills().size(), 1u);
  EXPECT_EQ(view_.clears(), clears);
  // A selected row with an empty remark shows nothing either.
  view_.select(0);
  ViewRemark_Click(0, nullptr, nullptr);
  EXPECT_TRUE(view_.boxes().empty());
  RecordList_RightClick(0, nullptr, nullptr);
  EXPECT_EQ(view_.popups, 1);
}

// Another instance purged record 1 after our list was filled: row 2 now names record "three",
// which the user did not choose. Nothing is deleted and the list shows the file again.
TEST_F(Ledger, DeleteOfARowTheFileNoLongerHoldsDeletesNothing) {
  start();
  const double t = now_time();
  ASSERT_TRUE(append_bill("支出", 1, "a", t, "one"));
  ASSERT_TRUE(append_bill("支出", 2, "b", t, "two"));
  ASSERT_TRUE(append_bill("支出", 3, "c", t, "three"));
  refresh();
  ASSERT_TRUE(call_command(db_go_to, {Value::of_int(1)}).lo);
  ASSERT_TRUE(call_command(db_delete, {}).lo);
  ASSERT_TRUE(call_command(db_purge, {}).lo);
  view_.select(1);  // still shows "two"
  DeleteRecord_Click(0, nullptr, nullptr);
  wait_for_refreshes();
  auto bills = stored_bills();
  ASSERT_EQ(bills.size(), 2u);
  EXPECT_EQ(bills[0].remark, "two");
  EXPECT_EQ(bills[1].remark, "three");
  auto rows = view_.rows();
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0][5], "two");
  // Now the rows match the file again, and the delete goes through.
  view_.select(0);
  DeleteRecord_Click(0, nullptr, nullptr);
  wait_for_refreshes();
  bills = stored_bills();
  ASSERT_EQ(bills.size(), 1u);
  EXPECT_EQ(bills[0].remark, "three");
}

// Another process holds the count slot past the wait: the failed delete's refresh cannot read the
// count, so the list, the panes and the summary's totals keep the last refresh instead of showing an
// empty file; the next refresh after the slot is free shows the file as it is.
TEST_F(Ledger, ARefreshThatCannotReadTheCountKeepsTheLastList) {
  // A second open in this process must meet the real locks.
  struct FullProtocol {
    bool was = set_sole_opener_allowed(false);
    ~FullProtocol() { std::ignore = set_sole_opener_allowed(was); }
  } full_protocol;
  start();
  const double t = now_time();
  for (int i = 1; i <= 4; ++i) ASSERT_TRUE(append_bill("支出", i, "微信", t, "r" + std::to_string(i)));
  refresh();
  const auto shown = view_.rows();
  ASSERT_EQ(shown.size(), 4u);
  const PeriodTotals totals = last_period_totals();
  EXPECT_EQ(totals.yearExpense, 10);
  const int clears = view_.clears();

  std::unique_ptr<File> other;
  ASSERT_EQ(posix_file_system().open(ledger_data_path(), FileAccess::ReadWrite, FileShare::DenyNone, &other),
            FileCause::None);
  ASSERT_EQ(other->lock(16, 1), FileCause::None);  // the count slot
  view_.select(1);
  DeleteRecord_Click(0, nullptr, nullptr);
  wait_for_refreshes();
  EXPECT_EQ(view_.rows(), shown);
  EXPECT_EQ(view_.clears(), clears);
  EXPECT_EQ(view_.pane(1), "4");
  EXPECT_EQ(view_.pane(5), "4");
  EXPECT_EQ(last_period_counts().yearCount, 4);
  EXPECT_EQ(last_period_totals().yearExpense, 10);

  ASSERT_EQ(other->unlock(16, 1), FileCause::None);
  EXPECT_EQ(stored_bills().size(), 4u) << "the delete could not purge";
  ASSERT_TRUE(append_bill("收入", 7, "微信", t, "r5"));
  refresh();
  const auto rows = view_.rows();
  ASSERT_EQ(rows.size(), 5u);
  EXPECT_EQ(rows[4][5], "r5");
  EXPECT_EQ(view_.pane(5), "5");
  EXPECT_EQ(last_period_totals().yearIncome, 7);
}

// Every finished refresh shows the file as one walk saw it: rows 1..n, each once.
void expect_whole_lists(RecordingView& view) {
  for (const auto& list : view.finished_lists()) {
    for (size_t i = 0; i < list.size(); ++i) EXPECT_EQ(list[i][0], std::to_string(i + 1));
  }
}

TEST_F(Ledger, RefreshesAskedForWhileOneRunsAreNotLostAndDoNotInterleave) {
  start();
  const double t = now_time();
  for (int i = 1; i <= 3; ++i) ASSERT_TRUE(append_bill("支出", i, "a", t));
  view_.hold_at_row(1);
  ASSERT_TRUE(start_refresh());
  view_.wait_until_held();
  ASSERT_TRUE(append_bill("支出", 4, "a", t));
  ASSERT_TRUE(start_refresh());
  ASSERT_TRUE(start_refresh());
  view_.release();
  wait_for_refreshes();
  auto lists = view_.finished_lists();
  ASSERT_GE(lists.size(), 3u);  // the start, the held one, and at least one after it
  EXPECT_EQ(lists.back().size(), 4u) << "the refresh asked for during the first was not lost";
  EXPECT_EQ(view_.rows().size(), 4u);
  expect_whole_lists(view_);
}

TEST_F(Ledger, AnAddWhileARefreshRunsWaitsForIt) {
  start();
  const double t = now_time();
  for (int i = 1; i <= 3; ++i) ASSERT_TRUE(append_bill("支出", i, "a", t, std::to_string(i)));
  view_.hold_at_row(1);
  ASSERT_TRUE(start_refresh());
  view_.wait_until_held();
  type_bill("收入", "9", "微信", "new");
  std::thread adder([] { AddRecord_Click(0, nullptr, nullptr); });
  while (view_.input_reads() < 4) std::this_thread::yield();
  std::this_thread::sleep_for(std::chrono::milliseconds(20));  // let it reach the lock
  EXPECT_TRUE(view_.boxes().empty()) << "the add waits for the running refresh";
  view_.release();
  adder.join();
  wait_for_refreshes();
  EXPECT_EQ(last_box(), "添加成功");
  auto lists = view_.finished_lists();
  ASSERT_EQ(lists.size(), 3u);
  EXPECT_EQ(lists[1].size(), 3u) << "the held refresh saw the file before the add";
  ASSERT_EQ(lists[2].size(), 4u);
  EXPECT_EQ(lists[2][3][5], "new");
  EXPECT_EQ(stored_bills().back().number, 4.0);
  expect_whole_lists(view_);
}

// The summary never shows a refresh's partial sums: while one runs it shows the last finished one.
TEST_F(Ledger, SummaryShowsTheLastFinishedRefresh) {
  start();
  const double t = now_time();
  ASSERT_TRUE(append_bill("支出", 5, "a", t));
  ASSERT_TRUE(append_bill("支出", 6, "a", t));
  refresh();
  view_.hold_at_row(1);
  ASSERT_TRUE(start_refresh());
  view_.wait_until_held();
  Summary_Click(0, nullptr, nullptr);
  view_.release();
  wait_for_refreshes();
  if (date_time_parts(now_time()).day != date_time_parts(t).day) GTEST_SKIP() << "midnight passed";
  EXPECT_EQ(lines_of(view_.clipboard).at(2), "今日支出:11");
}

// A refresh that would start after the window is gone does nothing (the store is closed).
TEST_F(Ledger, NoRefreshAfterTheWindowIsGone) {
  start();
  MainWindow_Destroyed(0, nullptr, nullptr);
  started_ = false;
  const int clears = view_.clears();
  ASSERT_TRUE(start_refresh());
  wait_for_refreshes();
  EXPECT_EQ(view_.clears(), clears);
}

class LedgerFaults : public Ledger {
 protected:
  void SetUp() override {
    Ledger::SetUp();
    previous_ = set_fatal_hook(throw_fatal);
  }
  void TearDown() override {
    call_command(db_close, {});
    set_fatal_hook(previous_);
    Ledger::TearDown();
  }
  void open_table(const std::vector<FieldSpec>& fields) {
    ASSERT_EQ(create_database(dir_.path() + "/data.kdb", fields), DbCode::Ok);
    const Text path(ledger_data_path());
    ASSERT_TRUE(call_command(db_open, {path.value()}).lo);
  }
  FatalReport refresh_report() {
    try {
      MutexLock lock(g_ledger);
      // The fault under test stops the refresh before it returns anything.
      std::ignore = RefreshRecordList();
    } catch (const FatalCaught& c) {
      return c.report;
    }
    ADD_FAILURE() << "no fault";
    return {};
  }
  FatalHook previous_ = nullptr;
};

TEST_F(LedgerFaults, FieldsOfTheWrongKindStopTheProgram) {
  auto fields = bill_table_fields();
  fields[1].type = FieldType::Int;  // 类型
  open_table(fields);
  Text m("a");
  ASSERT_TRUE(call_command(db_append, {Value::of_int(1), Value::of_int(3), Value::of_double(1), m.value(),
                                       Value::of_date_time(now_time())})
                  .lo);
  FatalReport r = refresh_report();
  EXPECT_EQ(r.code, 5);
  EXPECT_EQ(r.location, kLocationRefreshRecordList);
}

TEST_F(LedgerFaults, AnAmountThatIsNotANumber) {
  auto fields = bill_table_fields();
  fields[2] = {"金额", FieldType::Text, 10};
  open_table(fields);
  Text ty("支出"), amount("5"), m("a");
  ASSERT_TRUE(call_command(db_append, {Value::of_int(1), ty.value(), amount.value(), m.value(),
                                       Value::of_date_time(now_time())})
                  .lo);
  EXPECT_EQ(refresh_report().code, 2);
}

TEST_F(LedgerFaults, ATimeThatIsNotADateTime) {
  auto fields = bill_table_fields();
  fields[4] = {"时间", FieldType::Double, 0};
  open_table(fields);
  Text ty("支出"), m("a");
  ASSERT_TRUE(call_command(db_append, {Value::of_int(1), ty.value(), Value::of_double(2), m.value(),
                                       Value::of_double(1)})
                  .lo);
  EXPECT_EQ(refresh_report().code, 5);
}

TEST_F(LedgerFaults, AMissingFieldStopsTheProgram) {
  auto fields = bill_table_fields();
  fields[5].name = "说明";
  open_table(fields);
  Text ty("支出"), m("a");
  ASSERT_TRUE(call_command(db_append, {Value::of_int(1), ty.value(), Value::of_double(2), m.value(),
                                       Value::of_date_time(now_time())})
                  .lo);
  EXPECT_EQ(refresh_report().message, "指定字段不存在");
}

// Without a record file: one box, then the orderly end with status 0, before any refresh or skin.
std::string hex(std::string_view s) {
  std::string out;
  char b[4];
  for (unsigned char c : s) {
    snprintf(b, sizeof b, "%02x", c);
    out += b;
  }
  return out;
}

RecordingView* g_dying_view = nullptr;
void report_at_exit() {
  auto boxes = g_dying_view->boxes();
  fprintf(stderr, "boxes=%zu first=%s style=%d clears=%d skins=%zu\n", boxes.size(),
          boxes.empty() ? "" : hex(boxes[0].text).c_str(), boxes.empty() ? -1 : boxes[0].style,
          g_dying_view->clears(), g_dying_view->skins_applied.size());
}

TEST_F(Ledger, WithoutARecordFileTheProgramSaysSoAndEnds) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  const std::string expected = "boxes=1 first=" + hex("数据库打开失败!") + " style=16 clears=0 skins=0";
  EXPECT_EXIT(
      {
        g_dying_view = &view_;
        register_exit_routine(report_at_exit);
        MainWindow_Created(0, nullptr, nullptr);
      },
      ::testing::ExitedWithCode(0), expected);
  EXPECT_FALSE(std::filesystem::exists(dir_.path() + "/data.kdb")) << "the program never creates it";
}

}  // namespace
}  // namespace pennacle
