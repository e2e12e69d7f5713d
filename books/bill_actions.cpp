#include "books/bill_actions.h"

#include <QMessageBox>
#include <QUndoStack>

#include "books/bill_dialog.h"
#include "books/book_session.h"
#include "runtime/convert.h"

namespace pennacle {

BillActions::BillActions(BookSession& session, QWidget* parent)
    : QObject(parent), session_(session), parent_(parent) {}

void BillActions::edit(int32_t serial) {
  const std::shared_ptr<const Book> book = session_.book();
  const std::optional<size_t> row = book->rows.find(serial);
  if (!row) return show_failure(QString("账单 %1 已不在账本里，无法修改。").arg(serial));
  if (dialog_) dialog_->close();
  dialog_ = new BillDialog(*book, *row, parent_);
  dialog_->setAttribute(Qt::WA_DeleteOnClose);
  connect(dialog_, &QDialog::accepted, this, [this, dialog = dialog_] {
    if (!dialog || (dialog->change().empty() && !dialog->category())) return;
    start(
        std::make_shared<EditWork>(session_.ledger(), dialog->serial(), dialog->change(), dialog->category()),
        "修改账单");
  });
  dialog_->open();
}

void BillActions::remove(int32_t serial) {
  start(std::make_shared<BinWork>(session_.ledger(), serial, false), "删除账单");
}

void BillActions::restore_from_bin(int32_t serial) {
  start(std::make_shared<BinWork>(session_.ledger(), serial, true), "还原账单");
}

void BillActions::start(std::shared_ptr<BillWork> work, const QString& text) {
  ++pending_;
  std::shared_ptr<SerialMap> serials = serials_;
  session_.store().run<StepOutcome>(
      this, [work, serials] { return work->run(true, *serials); },
      [this, work, text](StepOutcome outcome) {
        --pending_;
        if (outcome.status.ok()) {
          session_.undo().push(new BillCommand(*this, work, text));
          emit changed();
        } else {
          show_failure(QString("%1失败：%2").arg(text, QString::fromStdString(outcome.status.message())));
          broken_ = broken_ || outcome.half;
        }
        finish_step();
      });
}

void BillActions::step(BillCommand& command, bool forward) {
  if (replaying_) return;
  ++pending_;
  std::shared_ptr<BillWork> work = command.work();
  std::shared_ptr<SerialMap> serials = serials_;
  const uint64_t token = command.token();
  const QString text = command.text();
  session_.store().run<StepOutcome>(
      this, [work, serials, forward] { return work->run(forward, *serials); },
      [this, token, forward, text](StepOutcome outcome) { step_done(token, forward, text, outcome); });
}

int BillActions::index_of(uint64_t token) const {
  const QUndoStack& stack = session_.undo();
  for (int i = 0; i < stack.count(); ++i) {
    const auto* c = dynamic_cast<const BillCommand*>(stack.command(i));
    if (c && c->token() == token) return i;
  }
  return -1;
}

void BillActions::step_done(uint64_t token, bool forward, const QString& text, const StepOutcome& outcome) {
  --pending_;
  if (outcome.status.ok()) {
    emit changed();
    return finish_step();
  }
  const QString way = forward ? "重做" : "撤销";
  show_failure(QString("%1“%2”失败，账单保持原样：%3")
                   .arg(way, text, QString::fromStdString(outcome.status.message())));
  QUndoStack& stack = session_.undo();
  const int at = index_of(token);
  // Moved by this step alone: one step back puts the stack where the file is.
  const bool alone = at >= 0 && pending_ == 0 && stack.index() == (forward ? at + 1 : at);
  if (alone && !outcome.half && !broken_) {
    replaying_ = true;
    if (forward) {
      stack.undo();
    } else {
      stack.redo();
    }
    replaying_ = false;
  } else {
    broken_ = true;
  }
  finish_step();
}

void BillActions::finish_step() {
  session_.reload();
  if (pending_ > 0 || !broken_) return;
  broken_ = false;
  session_.undo().clear();
  show_failure((message_ ? message_->text() + "\n" : QString()) +
               "账本已不是撤销记录所知的样子，撤销记录已清空。");
}

void BillActions::show_failure(const QString& text) {
  emit failed(text);
  if (message_) message_->deleteLater();
  message_ = new QMessageBox(QMessageBox::Warning, "Pennacle 账本", text, QMessageBox::Ok, parent_);
  message_->setAttribute(Qt::WA_DeleteOnClose);
  message_->setAccessibleName("提示");
  message_->open();
}

}  // namespace pennacle
