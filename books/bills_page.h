// The 账单 view of the second window.
#pragma once

#include <QWidget>

namespace pennacle {

class BookSession;

class BillsPage final : public QWidget {
  Q_OBJECT

 public:
  explicit BillsPage(BookSession& session, QWidget* parent = nullptr);

  // Puts the keyboard in the search box (Ctrl+F).
  void focus_search();

 private:
  BookSession& session_;
};

}  // namespace pennacle
