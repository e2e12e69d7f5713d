// The 回收站 view of the second window.
#pragma once

#include <QWidget>

namespace pennacle {

class BookSession;

class BinPage final : public QWidget {
  Q_OBJECT

 public:
  explicit BinPage(BookSession& session, QWidget* parent = nullptr);

 private:
  BookSession& session_;
};

}  // namespace pennacle
