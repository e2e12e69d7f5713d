// Fixing bills from the second window: the edit dialog, the delete into the recycle bin and the
// restore from it, each one undoable command on the session's undo stack. Every change runs on
// the store's thread and reloads the book after it; the window never waits for it.
//
// A step of undo or redo that fails shows why and leaves the stack where the file is: a failed
// redo stays to be redone, a failed undo stays to be undone. When the file is in neither state the
// stack knows (a step failed while others were queued, or a change got half done), the history is
// cleared and the message says so: the stack never claims a change the file does not hold.
#pragma once

#include <QMessageBox>
#include <QObject>
#include <QPointer>
#include <QString>
#include <cstdint>
#include <memory>

#include "books/bill_dialog.h"
#include "books/undo_commands.h"

class QWidget;

namespace pennacle {

class BookSession;

class BillActions final : public QObject {
  Q_OBJECT

 public:
  // Dialogs and messages open over `parent`.
  BillActions(BookSession& session, QWidget* parent);

  // The edit dialog open now, for tests; nullptr when none is.
  BillDialog* dialog() const { return dialog_; }
  // The last failure shown, while it is open.
  QMessageBox* message() const { return message_; }
  // Changes asked for and not finished yet.
  int pending() const { return pending_; }

  // Called by a command when the stack moves it (not on its first redo).
  void step(BillCommand& command, bool forward);

 public slots:
  // Opens the edit dialog for the bill; on OK one command changes its fields and/or category.
  void edit(int32_t serial);
  // Puts the bill into the recycle bin, at once: the bin is the safety net, so no question.
  void remove(int32_t serial);
  // Brings the bill with this serial back from the recycle bin.
  void restore_from_bin(int32_t serial);

 signals:
  // A change failed; the text says which and why (also shown in a message box).
  void failed(const QString& message);
  // A change (or a step of undo or redo) reached the file.
  void changed();

 private:
  void start(std::shared_ptr<BillWork> work, const QString& text);
  void step_done(uint64_t token, bool forward, const QString& text, const StepOutcome& outcome);
  int index_of(uint64_t token) const;
  void show_failure(const QString& text);
  void finish_step();

  BookSession& session_;
  QWidget* parent_;
  std::shared_ptr<SerialMap> serials_ = std::make_shared<SerialMap>();
  QPointer<BillDialog> dialog_;
  QPointer<QMessageBox> message_;
  int pending_ = 0;
  bool replaying_ = false;  // moving the stack back after a failure: no work runs
  bool broken_ = false;     // the file left the stack's idea of it: clear once nothing is pending
};

}  // namespace pennacle
