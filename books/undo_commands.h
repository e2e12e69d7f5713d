// The undoable changes of the second window. Each command's work runs on the store's thread (the
// store's current database belongs to the whole process); the command on the undo stack only says
// which way it goes. A delete and its undo give a bill a new serial, so every work finds its bill
// through a serial map the commands share.
#pragma once

#include <QString>
#include <QUndoCommand>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "ledger/bill_changes.h"
#include "ledger/bill_edit.h"
#include "platform/status.h"

namespace pennacle {

class BillActions;

// Where each bill is now: a serial a command was made with, to the serial that bill has since.
// Read and written on the store's thread; the mutex keeps a read from the window safe too.
class SerialMap {
 public:
  int32_t follow(int32_t serial) const;
  // The bill that was `from` is `to` now (an undelete gave it a new serial).
  void moved(int32_t from, int32_t to);

 private:
  mutable std::mutex mu_;
  std::map<int32_t, int32_t> now_;  // guarded by mu_
};

// What one step did. `half`: a part reached the file and a later part failed, so the file is in
// neither state the stack knows.
struct StepOutcome {
  Status status;
  bool half = false;
};

// One change of one bill, both ways. Runs on the store's thread only.
class BillWork {
 public:
  BillWork(std::string ledger, int32_t serial) : ledger_(std::move(ledger)), serial_(serial) {}
  virtual ~BillWork() = default;
  // forward: do the change; otherwise take it back.
  virtual StepOutcome run(bool forward, SerialMap& serials) = 0;
  int32_t serial() const { return serial_; }

 protected:
  const std::string ledger_;
  const int32_t serial_;  // the bill's serial when the command was made
};

// Fields and/or the category of one bill. The values before are learnt on the first run.
class EditWork final : public BillWork {
 public:
  EditWork(std::string ledger, int32_t serial, BillChange change, std::optional<CategoryState> category);
  StepOutcome run(bool forward, SerialMap& serials) override;

 private:
  Status put_category(int32_t serial, bool forward);

  BillChange forward_, back_;
  std::optional<CategoryState> category_, category_back_;
  bool learnt_ = false;
};

// A bill into the recycle bin (forward) and back; `restore` turns it round: out of the bin first.
class BinWork final : public BillWork {
 public:
  BinWork(std::string ledger, int32_t serial, bool restore)
      : BillWork(std::move(ledger), serial), restore_(restore) {}
  StepOutcome run(bool forward, SerialMap& serials) override;

 private:
  const bool restore_;
};

// The command on the undo stack. Its first redo is skipped: it is pushed once its work has run.
class BillCommand final : public QUndoCommand {
 public:
  BillCommand(BillActions& actions, std::shared_ptr<BillWork> work, const QString& text);
  void redo() override;
  void undo() override;

  uint64_t token() const { return token_; }
  const std::shared_ptr<BillWork>& work() const { return work_; }

 private:
  BillActions& actions_;
  std::shared_ptr<BillWork> work_;
  uint64_t token_;
  bool pushed_ = false;
};

}  // namespace pennacle
