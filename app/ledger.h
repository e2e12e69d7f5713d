// The ledger: start-up and shut-down of the main window, bill entry, the record list with its
// period sums, the record actions and the summary report.
//
// Serialisation. The record store's current record, the list, the status panes and the period
// sums are shared between the user-interface thread and the refresh threads. One ledger lock is
// held around each whole refresh and around each record action (add, delete), so the list always
// shows a refresh that ran alone, taken after the last add or delete. A refresh asked for while
// another runs is not lost: it runs after it, unless a refresh that began after the request has
// already finished. The window also follows its files: news that another program changed them asks
// for a refresh that does nothing while they are as the list shows them, so the window's own writes
// are rebuilt once. Nothing done under the lock waits for the user-interface thread (the list and
// status calls never do), because that thread may be waiting for the lock.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "app/ledger_view.h"
#include "ledger/bill.h"
#include "ledger/periods.h"
#include "platform/mutex.h"
#include "platform/status.h"
#include "runtime/value.h"

namespace pennacle {

// ---- Program-wide state ----------------------------------------------------------------------

// The ledger lock (see the top of this file).
extern Mutex g_ledger;

// The window the handlers act on (not owned). REQUIRES: set before the main window is loaded.
void set_ledger_view(LedgerView* view);

// Creates PeriodTotals and the counts (program entry) and releases them (exit routine). The
// handlers create them on first use when the entry did not.
void create_ledger_state();
void release_ledger_state();

// The totals and counts of the last refresh that finished (all 0 before the first one).
PeriodTotals last_period_totals();
PeriodCounts last_period_counts();

// The record file (GBK): data.kdb where ledger/ledger_location.h puts it, beside the program unless
// PENNACLE_HOME names another directory or the program directory is not writable.
std::string ledger_data_path();
// Tests run the handlers on a data file in a directory of their own (GBK; empty: the program's).
void set_ledger_directory_for_test(std::string_view gbk_dir);
// The clock the handlers and the refresh read for "now" (a date-time value): the date line, the
// time of a new bill, the periods and the summary's date. Tests fix it; null gives the real one.
void set_ledger_clock_for_test(double (*clock)());

// ---- Handlers (the command shape of the window runtime) ---------------------------------------

void MainWindow_Created(int argc, const Value* args, Value* result);
void MainWindow_Destroyed(int argc, const Value* args, Value* result);
void AddRecord_Click(int argc, const Value* args, Value* result);
void Summary_Click(int argc, const Value* args, Value* result);
void RecordList_RightClick(int argc, const Value* args, Value* result);
void DeleteRecord_Click(int argc, const Value* args, Value* result);
void ViewRemark_Click(int argc, const Value* args, Value* result);

// ---- The record list -------------------------------------------------------------------------

// A worker thread's routine: one refresh under the ledger lock (see the top of this file). With
// `reason` 1 (news that the files changed) it does nothing while the record file and its remark
// file are as the last refresh found them.
int32_t RefreshThread(int32_t reason);
// Starts RefreshThread on a new worker thread without waiting; false when no thread could be made.
[[nodiscard]] bool start_refresh(int32_t reason = 0);
// Rebuilds the list, the counts and the sums from the file. When the record count cannot be read
// (another process holds its slot past the wait), the list, the panes and the published totals keep
// the last refresh and the store's refusal is returned: an empty list over a full file would be a
// failure shown as the truth.
[[nodiscard]] Status RefreshRecordList() REQUIRES(g_ledger);
// Blocks until every refresh asked for so far has finished (tests, the benchmark).
void wait_for_refreshes();

// ---- Pieces of the handlers ------------------------------------------------------------------

// The summary report for these totals under the date line `date` (GBK).
std::string SummaryText(const PeriodTotals& totals, std::string_view date);

// Fault locations of the ledger's own checks.
inline constexpr int32_t kLocationRefreshRecordList = 0x04000103;

}  // namespace pennacle
