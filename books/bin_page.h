// The 回收站 view of the second window: the bills in the recycle bin, the last deleted first, and
// 还原 to bring one back. It reads the bin on the store's thread after every load of the book.
#pragma once

#include <QWidget>
#include <cstdint>
#include <memory>
#include <vector>

#include "books/book.h"
#include "ledger/recycle_bin.h"
#include "platform/status.h"

class QLabel;
class QPushButton;
class QTableWidget;

namespace pennacle {

class BookSession;

class BinPage final : public QWidget {
  Q_OBJECT

 public:
  explicit BinPage(BookSession& session, QWidget* parent = nullptr);

  QTableWidget* table() const { return table_; }
  QPushButton* restore_button() const { return restore_; }
  // The bills listed, as last read.
  const std::vector<BinEntry>& bills() const { return bills_; }
  // Reads the bin again (the page does after every load of the book).
  void refresh();

 signals:
  // 还原 (the button, or Enter on a row): the bill with this serial, as it was deleted.
  void restore_asked(int32_t serial);
  // The bin was read and shown.
  void refreshed();

 private:
  void show_bills(Result<std::vector<BinEntry>> bills);
  void restore_current();

  BookSession& session_;
  QTableWidget* table_;
  QPushButton* restore_;
  QLabel* state_;
  std::vector<BinEntry> bills_;
};

}  // namespace pennacle
