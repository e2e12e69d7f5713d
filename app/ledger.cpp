#include "app/ledger.h"

#include <array>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <memory>
#include <optional>
#include <tuple>

#include "app/date_format.h"
#include "ledger/bill.h"
#include "ledger/bin_ledger.h"
#include "ledger/ledger_location.h"
#include "ledger/periods.h"
#include "platform/file_stamp.h"
#include "platform/mutex.h"
#include "runtime/commands.h"
#include "runtime/convert.h"
#include "runtime/fatal.h"
#include "runtime/program_end.h"
#include "runtime/worker_thread.h"
#include "store/paths.h"
#include "store/record_store.h"

namespace pennacle {

constinit Mutex g_ledger;

namespace {

constexpr std::string_view kConnectedSuffix = "           --连接数据库成功...";
constexpr int32_t kStyleError = 0x10;
constexpr int32_t kStyleInformation = 0x40;

LedgerView* g_view = nullptr;

// What the ledger lock guards.
// Requests covered by a finished refresh.
uint64_t g_refreshed_up_to GUARDED_BY(g_ledger) = 0;
bool g_store_closed GUARDED_BY(g_ledger) = false;
// The record file and its remark file as the last finished refresh found them before it read.
using LedgerStamps = std::array<FileStamp, 2>;
std::optional<LedgerStamps> g_shown_stamps GUARDED_BY(g_ledger);
// Requests so far; a refresh covers every request made before it began.
std::atomic<uint64_t> g_requested{0};
// Set when the window goes: a running refresh stops at its next row.
std::atomic<bool> g_stop{false};

// Refreshes asked for and not yet finished.
constinit Mutex g_pending_mu;
CondVar g_pending_cv;
int g_pending GUARDED_BY(g_pending_mu) = 0;

// The results of the last finished refresh, published whole.
struct LedgerState {
  PeriodTotals totals;
  PeriodCounts counts;
};
constinit Mutex g_state_mu;
std::unique_ptr<LedgerState> g_state GUARDED_BY(g_state_mu);

std::string g_directory_override;
// Where "now" comes from; null: the `now` command.
std::atomic<double (*)()> g_clock{nullptr};

LedgerView& view() {
  if (g_view == nullptr) report_fatal_message("指定窗口或窗口组件不存在或尚未载入");
  return *g_view;
}

void box(std::string_view text, int32_t style, std::optional<std::string_view> title = std::nullopt) {
  view().message_box(text, style, title);
}

bool logical(const Value& v) { return v.is(Kind::Logical) && v.lo != 0; }

// Reads the current record; a field of a kind the bill does not take is the runtime fault the
// refresh gives it (an amount that is no number is fault 2, any other field fault 5).
Bill read_current_record() {
  Bill b;
  if (const std::optional<BillField> wrong = read_current_bill(&b)) {
    switch (*wrong) {
      case BillField::Amount:
        raise_fault(kFaultNotNumeric, kLocationRefreshRecordList, 4);
      case BillField::Channel:
        raise_fault(kFaultKindMismatch, kLocationRefreshRecordList, 5);
      case BillField::Time:
        raise_fault(kFaultKindMismatch, kLocationRefreshRecordList, 6);
      case BillField::Remark:
        raise_fault(kFaultKindMismatch, kLocationRefreshRecordList, 11);
      default:
        raise_fault(kFaultKindMismatch, kLocationRefreshRecordList, 3);
    }
  }
  return b;
}

std::string number_text(double d) { return value_to_text(Value::of_double(d)); }
std::string time_text(double t) { return value_to_text(Value::of_date_time(t)); }

// Cells 1 to 5 of a record's row.
std::array<std::string, 5> record_cells(const Bill& b) {
  return {b.type, number_text(b.amount), b.channel, time_text(b.time), b.remark};
}

int32_t int_of(Command cmd, std::initializer_list<Value> args) {
  return call_command(cmd, args).int_payload();
}

double ledger_now() {
  double (*clock)() = g_clock.load();
  return clock ? clock() : call_command(now, {}).double_payload();
}

// The periods around the clock's "now", read once. A day is the date line's day: two moments are of
// one day when their date texts (style 2) agree byte for byte.
PeriodClock period_clock() {
  return PeriodClock(ledger_now(), [](double t) { return FormatDateTime(t, 2, 1).str(); });
}

void publish(const PeriodTotals& totals, const PeriodCounts& counts) {
  MutexLock lock(g_state_mu);
  if (!g_state) g_state = std::make_unique<LedgerState>();
  g_state->totals = totals;
  g_state->counts = counts;
}

void refresh_finished() {
  MutexLock lock(g_pending_mu);
  if (--g_pending == 0) g_pending_cv.notify_all();
}

// The selected row still shows record n: the same cells the refresh would write for it now.
bool current_record_matches(int32_t row) {
  int32_t serial = 0;
  if (db_current_serial(&serial) != DbCode::Ok || serial < 0) return false;
  const std::array<std::string, 5> cells = record_cells(read_current_record());
  for (int32_t c = 0; c < 5; ++c) {
    if (view().list_get_cell_text(row, c + 1) != cells[c]) return false;
  }
  return true;
}

}  // namespace

// ---- Program-wide state ----------------------------------------------------------------------

void set_ledger_view(LedgerView* v) { g_view = v; }

void create_ledger_state() {
  g_stop = false;
  MutexLock lock(g_state_mu);
  g_state = std::make_unique<LedgerState>();
}

void release_ledger_state() {
  MutexLock lock(g_state_mu);
  g_state.reset();
}

PeriodTotals last_period_totals() {
  MutexLock lock(g_state_mu);
  return g_state ? g_state->totals : PeriodTotals{};
}

PeriodCounts last_period_counts() {
  MutexLock lock(g_state_mu);
  return g_state ? g_state->counts : PeriodCounts{};
}

std::string ledger_data_path() {
  if (!g_directory_override.empty()) return g_directory_override + "/data.kdb";
  // No place for the ledger: the open of "" fails with the program's own box; the program entry
  // has said why on stderr.
  const Result<LedgerLocation> where = ledger_location();
  return where.ok() ? where->file_gbk : std::string();
}

void set_ledger_directory_for_test(std::string_view gbk_dir) { g_directory_override = std::string(gbk_dir); }

void set_ledger_clock_for_test(double (*clock)()) { g_clock = clock; }

// ---- The record list -------------------------------------------------------------------------

namespace {

// Why a refresh runs: the window's own add or delete (or its start), or news that the files changed.
enum RefreshReason : int32_t { kAsked = 0, kFilesChanged = 1 };

LedgerStamps ledger_stamps() {
  const std::string path = ledger_data_path();
  return {settled_file_stamp(path), settled_file_stamp(aux_path_of(path))};
}

// One refresh under the ledger lock, unless the store is closed or a refresh that began after the
// last request has already finished. One for news of a change also does nothing while the files
// are as the list shows them: the window's own writes are shown once, by the refresh they ask for.
//
// A refresh that could not read the record count covers nothing: the list keeps the last one, and
// the next refresh asked for (a request already waiting for the lock, the next add or delete) tries
// again and shows the file as it is then. There is no timer that polls: the count read already
// waited for the slot, and another process may hold it for as long as it likes.
void run_refresh(RefreshReason reason) {
  // Our request was counted before this began.
  const uint64_t wanted = g_requested.load();
  MutexLock lock(g_ledger);
  if (g_store_closed || g_refreshed_up_to >= wanted) return;
  if (reason == kFilesChanged && g_shown_stamps == ledger_stamps()) return;
  const uint64_t covers = g_requested.load();
  if (RefreshRecordList().ok()) g_refreshed_up_to = covers;
}

// Starts a refresh on a worker thread; when none can be made, refreshes here, so the list never
// stays behind the file. List and status calls never wait for this thread, so it may hold the lock.
void refresh_list() {
  if (!start_refresh()) run_refresh(kAsked);
}

// The kernel's news that the ledger's files changed (user-interface thread).
void files_changed() {
  if (!start_refresh(kFilesChanged)) run_refresh(kFilesChanged);
}

}  // namespace

bool start_refresh(int32_t reason) {
  {
    MutexLock lock(g_pending_mu);
    ++g_pending;
  }
  g_requested.fetch_add(1);
  const Value started =
      call_command(start_worker_thread, {thread_routine_value(RefreshThread), Value::of_int(reason)});
  if (logical(started)) return true;
  refresh_finished();
  return false;
}

int32_t RefreshThread(int32_t reason) {
  run_refresh(reason == kFilesChanged ? kFilesChanged : kAsked);
  refresh_finished();
  return 0;
}

Status RefreshRecordList() {
  g_ledger.assert_held();
  LedgerView& v = view();
  // Stamped before the count is read: a change made after this shows in a later refresh.
  const LedgerStamps stamps = ledger_stamps();
  // Read before anything is cleared: a count that cannot be read leaves the last refresh shown.
  const int32_t n = int_of(db_record_count, {});
  if (const DbCode rc = db_last_error(); rc != DbCode::Ok) return store_status(rc);
  call_command(db_go_first, {});
  v.list_clear();
  PeriodTotals totals;
  PeriodCounts counts;
  const PeriodClock clock = period_clock();
  for (int32_t i = 0; i < n; ++i) {
    // The window is going: its list and the store are no longer there to fill from.
    if (g_stop.load(std::memory_order_relaxed)) return Status();
    const int32_t r = v.list_insert_row();
    v.list_set_cell_text(r, 0, number_text(r + 1.0));
    const Bill bill = read_current_record();
    const DbCode read = db_last_error();
    add_to_periods(clock, bill, &totals, &counts);
    const std::array<std::string, 5> cells = record_cells(bill);
    for (int32_t c = 0; c < 5; ++c) v.list_set_cell_text(r, c + 1, cells[c]);
    std::ignore = db_skip_within(n, read);  // a failed step fails the next read: its row stays empty
  }
  v.set_status_pane(1, number_text(counts.todayCount));
  v.set_status_pane(3, number_text(counts.monthCount));
  v.set_status_pane(5, number_text(counts.yearCount));
  // The summary reads these: it sees a whole refresh or the one before, never a part.
  publish(totals, counts);
  g_shown_stamps = stamps;
  return Status();
}

void wait_for_refreshes() {
  MutexLock lock(g_pending_mu);
  while (g_pending != 0) g_pending_cv.wait(g_pending_mu);
}

// ---- Pieces ----------------------------------------------------------------------------------

std::string SummaryText(const PeriodTotals& t, std::string_view date) {
  const std::string stars(19, '*');
  std::string s = "   ";
  s.append(date).append("\r\n").append(stars);
  const std::pair<const char*, double> lines[] = {
      {"今日支出:", t.todayExpense}, {"今日收入:", t.todayIncome}, {"本月支出:", t.monthExpense},
      {"本月收入:", t.monthIncome},  {"今年支出:", t.yearExpense}, {"今年收入:", t.yearIncome},
  };
  for (const auto& [label, sum] : lines)
    s.append("\r\n").append(label).append(number_text(sum)).append("\r\n");
  s.append("\r\n").append(stars);
  return s;
}

// ---- Handlers --------------------------------------------------------------------------------

void MainWindow_Created(int, const Value*, Value*) {
  LedgerView& v = view();
  v.set_date_label(FormatDateTime(ledger_now(), 0, 1).view());
  bool opened = false;
  {
    MutexLock lock(g_ledger);
    const Text path(ledger_data_path());
    opened = logical(call_command(db_open, {path.value()}));
    g_store_closed = !opened;
    g_stop = !opened;
  }
  if (!opened) {
    box("数据库打开失败!", kStyleError);
    end_program(0);
  }
  v.set_window_caption(v.window_caption() + std::string(kConnectedSuffix));
  // Bills another program stores (an import, another window) show without an add of our own.
  const std::string path = ledger_data_path();
  v.follow_files({path, aux_path_of(path)}, files_changed);
  refresh_list();
  v.select_first_choices();
  v.apply_skin(27);
}

void MainWindow_Destroyed(int, const Value*, Value*) {
  // A refresh still walking the file stops at its next row; one not yet begun finds the store
  // closed and does nothing, instead of reading from no database.
  g_stop = true;
  view().follow_files({}, nullptr);
  {
    MutexLock lock(g_ledger);
    call_command(db_close, {});
    g_store_closed = true;
    g_shown_stamps.reset();
  }
  view().detach_skin();
}

void AddRecord_Click(int, const Value*, Value*) {
  LedgerView& v = view();
  Bill b;
  b.type = v.input_text(LedgerInput::Type);
  const Text amount_text(v.input_text(LedgerInput::Amount));
  b.amount = call_command(to_number, {amount_text.value()}).double_payload();
  b.time = ledger_now();
  b.remark = v.input_text(LedgerInput::Remark);
  b.channel = v.input_text(LedgerInput::Method);
  if (!bill_valid(b)) {
    box("数据不能为空!", kStyleError);
    return;
  }
  bool added = false;
  {
    MutexLock lock(g_ledger);
    const int32_t n = int_of(db_record_count, {});
    std::array<Text, 3> texts;
    const BillRow row = bill_row(b, n + 1.0, &texts);
    added = logical(call_command(db_append, {row[0], row[1], row[2], row[3], row[4], row[5]}));
  }
  if (!added) {
    box("添加记录失败!", kStyleError);
    return;
  }
  box("添加成功", kStyleInformation);
  refresh_list();
}

void Summary_Click(int, const Value*, Value*) {
  const std::string text = SummaryText(last_period_totals(), FormatDateTime(ledger_now(), 0, 1).view());
  if (view().set_clipboard_text(text)) {
    box(text, 0, "复制成功");
  } else {
    box("复制失败!", kStyleError);
  }
}

void RecordList_RightClick(int, const Value*, Value*) { view().popup_record_menu(); }

void DeleteRecord_Click(int, const Value*, Value*) {
  LedgerView& v = view();
  {
    MutexLock lock(g_ledger);
    const int32_t row = v.selected_row();
    const std::string number = row >= 0 ? v.list_get_cell_text(row, 0) : std::string();
    if (number.empty()) return;
    const Text number_value(number);
    const int32_t n = int_of(to_integer, {number_value.value()});
    call_command(db_go_to, {Value::of_int(n)});
    // Another instance may have changed the file since the list was filled: then the record at
    // that number is not the one the user chose, and the refresh below shows the file as it is.
    // The bill goes into the recycle bin on the disk before its record is deleted. When it cannot,
    // the record stays, as when the store refuses a delete: the refresh below shows it still there,
    // and the reason goes to the terminal, so the window's messages stay what they were.
    if (current_record_matches(row)) {
      const Status deleted = delete_current_bill(posix_file_system(), ledger_now());
      if (!deleted.ok()) std::fprintf(stderr, "pennacle: delete: %s\n", deleted.message().c_str());
    }
  }
  refresh_list();
}

void ViewRemark_Click(int, const Value*, Value*) {
  LedgerView& v = view();
  const int32_t row = v.selected_row();
  const std::string remark = row >= 0 ? v.list_get_cell_text(row, 5) : std::string();
  if (remark.empty()) return;
  box(remark, kStyleInformation);
}

}  // namespace pennacle
