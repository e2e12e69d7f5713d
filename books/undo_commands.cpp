#include "books/undo_commands.h"

#include <atomic>

#include "books/bill_actions.h"
#include "ledger/import/bill_undelete.h"
#include "runtime/convert.h"

namespace pennacle {

int32_t SerialMap::follow(int32_t serial) const {
  std::lock_guard lock(mu_);
  auto it = now_.find(serial);
  return it == now_.end() ? serial : it->second;
}

void SerialMap::moved(int32_t from, int32_t to) {
  std::lock_guard lock(mu_);
  for (auto& [made, now] : now_) {
    if (now == from) now = to;
  }
  now_[from] = to;
}

EditWork::EditWork(std::string ledger, int32_t serial, BillChange change,
                   std::optional<CategoryState> category)
    : BillWork(std::move(ledger), serial), forward_(std::move(change)), category_(std::move(category)) {}

Status EditWork::put_category(int32_t serial, bool forward) {
  if (!category_) return Status();
  Result<CategoryState> before = set_ledger_category(ledger_, serial, forward ? *category_ : *category_back_);
  if (before.ok() && !learnt_) category_back_ = *before;
  return before.status();
}

StepOutcome EditWork::run(bool forward, SerialMap& serials) {
  const int32_t serial = serials.follow(serial_);
  bool fields_done = false;
  if (!forward_.empty()) {
    Result<BillEdit> e = edit_ledger_bill(ledger_, serial, forward ? forward_ : back_);
    if (!e.ok()) return {e.status()};
    fields_done = true;
    if (!learnt_) {
      // The values before, for the parts this edit changes.
      const Bill& b = e->before;
      if (forward_.type) back_.type = b.type;
      if (forward_.amount) back_.amount = b.amount;
      if (forward_.channel) back_.channel = b.channel;
      if (forward_.time) back_.time = b.time;
      if (forward_.remark) back_.remark = b.remark;
    }
  }
  Status s = put_category(serial, forward);
  if (!s.ok() && fields_done) {
    // The fields go back to where the stack has them; only when that fails too is the file half.
    Result<BillEdit> undone = edit_ledger_bill(ledger_, serial, forward ? back_ : forward_);
    return {s, !undone.ok()};
  }
  if (s.ok()) learnt_ = true;
  return {s};
}

StepOutcome BinWork::run(bool forward, SerialMap& serials) {
  const int32_t serial = serials.follow(serial_);
  if (forward != restore_) {
    Result<BinEntry> gone = delete_ledger_bill(ledger_, serial, current_date_time());
    return {gone.status()};
  }
  Result<Undeleted> back = undelete_bill(ledger_, serial, nullptr);
  if (!back.ok()) return {back.status().with_context("bill " + std::to_string(serial) + " was not restored")};
  serials.moved(serial, back->serial);
  return {Status()};
}

namespace {
std::atomic<uint64_t> g_tokens{0};
}  // namespace

BillCommand::BillCommand(BillActions& actions, std::shared_ptr<BillWork> work, const QString& text)
    : QUndoCommand(text), actions_(actions), work_(std::move(work)), token_(++g_tokens) {}

void BillCommand::redo() {
  if (!pushed_) {
    pushed_ = true;  // the work ran before the push
    return;
  }
  actions_.step(*this, true);
}

void BillCommand::undo() { actions_.step(*this, false); }

}  // namespace pennacle
