// Test support for the ledger's handlers: a window stand-in that records what the handlers show,
// a program directory of its own with a fresh "data.kdb", and a fixture running the handlers there.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "app/ledger.h"
#include "ledger/bill.h"
#include "runtime/convert.h"
#include "store/record_store.h"
#include "testing/temp_dir.h"

namespace pennacle::testing {

struct ShownBox {
  std::string text;
  int32_t style = 0;
  std::string title;  // "(default)" when none was given
};

// The window as the handlers see it. Safe from any thread. A test can hold a refresh in the
// middle of its walk: hold_at_row(k) makes the insertion of row k wait until release().
class RecordingView final : public LedgerView {
 public:
  std::string caption = "Pennacle";
  std::string date_label;
  std::string inputs[4];
  bool choices_selected = false;
  std::vector<int32_t> skins_applied;
  int skins_detached = 0;
  int popups = 0;
  bool clipboard_works = true;
  std::string clipboard;
  std::vector<std::string> followed;
  void (*files_changed)() = nullptr;

  void set_input(LedgerInput i, std::string text) { inputs[static_cast<int>(i)] = std::move(text); }
  void select(int32_t row) {
    std::lock_guard l(mu_);
    selected_ = row;
  }
  std::vector<ShownBox> boxes() {
    std::lock_guard l(mu_);
    return boxes_;
  }
  std::vector<std::vector<std::string>> rows() {
    std::lock_guard l(mu_);
    return rows_;
  }
  std::string pane(int i) {
    std::lock_guard l(mu_);
    return panes_[i];
  }
  int clears() {
    std::lock_guard l(mu_);
    return clears_;
  }
  // The list as each finished refresh left it (taken when pane 5 is written).
  std::vector<std::vector<std::vector<std::string>>> finished_lists() {
    std::lock_guard l(mu_);
    return finished_;
  }
  int input_reads() {
    std::lock_guard l(mu_);
    return input_reads_;
  }

  void hold_at_row(int32_t row) {
    std::lock_guard l(mu_);
    hold_row_ = row;
    holding_ = false;
  }
  void wait_until_held() {
    std::unique_lock l(mu_);
    cv_.wait(l, [this] { return holding_; });
  }
  void release() {
    std::lock_guard l(mu_);
    hold_row_ = -1;
    cv_.notify_all();
  }

  std::string window_caption() override { return caption; }
  void set_window_caption(std::string_view t) override { caption = t; }
  void set_date_label(std::string_view t) override { date_label = t; }
  std::string input_text(LedgerInput i) override {
    {
      std::lock_guard l(mu_);
      ++input_reads_;
    }
    return inputs[static_cast<int>(i)];
  }
  void select_first_choices() override { choices_selected = true; }
  int32_t selected_row() override {
    std::lock_guard l(mu_);
    return selected_ < static_cast<int32_t>(rows_.size()) ? selected_ : -1;
  }
  void message_box(std::string_view text, int32_t style, std::optional<std::string_view> title) override {
    std::lock_guard l(mu_);
    boxes_.push_back({std::string(text), style, title ? std::string(*title) : "(default)"});
  }
  bool set_clipboard_text(std::string_view text) override {
    if (clipboard_works) clipboard = text;
    return clipboard_works;
  }
  void popup_record_menu() override { ++popups; }
  void apply_skin(int32_t n) override { skins_applied.push_back(n); }
  void detach_skin() override { ++skins_detached; }
  // The handlers follow the files; a test plays the kernel's news by calling `files_changed`.
  void follow_files(const std::vector<std::string>& gbk_paths, void (*changed)()) override {
    followed = gbk_paths;
    files_changed = changed;
  }

  void list_clear() override {
    std::lock_guard l(mu_);
    rows_.clear();
    selected_ = -1;
    ++clears_;
  }
  int32_t list_insert_row() override {
    std::unique_lock l(mu_);
    if (hold_row_ >= 0 && static_cast<int32_t>(rows_.size()) == hold_row_) {
      holding_ = true;
      cv_.notify_all();
      cv_.wait(l, [this] { return hold_row_ < 0; });
    }
    rows_.emplace_back(6);
    return static_cast<int32_t>(rows_.size()) - 1;
  }
  void list_set_cell_text(int32_t row, int32_t column, std::string_view text) override {
    std::lock_guard l(mu_);
    if (row >= 0 && row < static_cast<int32_t>(rows_.size()) && column >= 0 && column < 6) {
      rows_[row][column] = text;
    }
  }
  std::string list_get_cell_text(int32_t row, int32_t column) override {
    std::lock_guard l(mu_);
    if (row < 0 || row >= static_cast<int32_t>(rows_.size()) || column < 0 || column >= 6) return {};
    return rows_[row][column];
  }
  void set_status_pane(int32_t pane, std::string_view text) override {
    std::lock_guard l(mu_);
    if (pane >= 0 && pane < 6) panes_[pane] = text;
    if (pane == 5) finished_.push_back(rows_);
  }

 private:
  std::mutex mu_;
  std::condition_variable cv_;
  std::vector<ShownBox> boxes_;
  std::vector<std::vector<std::string>> rows_;
  std::vector<std::vector<std::vector<std::string>>> finished_;
  std::string panes_[6] = {"本日记录:", "", "本月记录:", "", "年度记录:", ""};
  int32_t selected_ = -1;
  int clears_ = 0;
  int input_reads_ = 0;
  int32_t hold_row_ = -1;
  bool holding_ = false;
};

// One stored bill as the file holds it.
struct StoredBill {
  double number = 0;
  std::string type;
  double amount = 0;
  std::string method;
  double time = 0;
  std::string remark;
};

// Every record of the current database. REQUIRES: no refresh running.
inline std::vector<StoredBill> stored_bills() {
  std::vector<StoredBill> out;
  call_command(db_go_first, {});
  const int32_t n = call_command(db_record_count, {}).int_payload();
  auto text_of = [](const char* name) {
    Value v = call_command(db_read_field, {Value::of_text_block(name)});
    return Text::from_result(v).str();
  };
  for (int32_t i = 0; i < n; ++i) {
    StoredBill b;
    b.number = value_to_double(call_command(db_read_field, {Value::of_int(1)}));
    b.type = text_of("类型");
    b.amount = value_to_double(call_command(db_read_field, {Value::of_text_block("金额")}));
    b.method = text_of("付款方式");
    b.time = call_command(db_read_field, {Value::of_text_block("时间")}).double_payload();
    b.remark = text_of("备注");
    out.push_back(std::move(b));
    call_command(db_skip, {});
  }
  return out;
}

// Appends a bill straight to the current database. REQUIRES: no refresh running.
inline bool append_bill(std::string_view type, double amount, std::string_view method, double time,
                        std::string_view remark = "") {
  const Text t(type), m(method), r(remark);
  const int32_t n = call_command(db_record_count, {}).int_payload();
  Value v = call_command(db_append, {Value::of_double(n + 1.0), t.value(), Value::of_double(amount),
                                     m.value(), Value::of_date_time(time), r.value()});
  return v.is(Kind::Logical) && v.lo != 0;
}

// The handlers on a fresh data file in a directory of their own, with a recording window.
class LedgerFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(dir_.path().empty());
    set_ledger_view(&view_);
    set_ledger_directory_for_test(dir_.path());
    create_ledger_state();
  }
  void TearDown() override {
    wait_for_refreshes();
    if (started_) MainWindow_Destroyed(0, nullptr, nullptr);
    set_ledger_directory_for_test("");
    set_ledger_view(nullptr);
    release_ledger_state();
  }
  void make_data_file() {
    ASSERT_EQ(create_database(dir_.path() + "/data.kdb", bill_table_fields()), DbCode::Ok);
  }
  // A started window whose first refresh has finished.
  void start() {
    make_data_file();
    MainWindow_Created(0, nullptr, nullptr);
    started_ = true;
    wait_for_refreshes();
  }
  void refresh() {
    ASSERT_TRUE(start_refresh());
    wait_for_refreshes();
  }
  void type_bill(std::string type, std::string amount, std::string method, std::string remark = "") {
    view_.set_input(LedgerInput::Type, std::move(type));
    view_.set_input(LedgerInput::Amount, std::move(amount));
    view_.set_input(LedgerInput::Method, std::move(method));
    view_.set_input(LedgerInput::Remark, std::move(remark));
  }
  void add() {
    AddRecord_Click(0, nullptr, nullptr);
    wait_for_refreshes();
  }
  std::string last_box() {
    auto b = view_.boxes();
    return b.empty() ? std::string() : b.back().text;
  }

  TempDir dir_;
  RecordingView view_;
  bool started_ = false;
};

}  // namespace pennacle::testing
