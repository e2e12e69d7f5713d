// The 统计 view of the second window.
#pragma once

#include <QWidget>

namespace pennacle {

class BookSession;

class StatsPage final : public QWidget {
  Q_OBJECT

 public:
  explicit StatsPage(BookSession& session, QWidget* parent = nullptr);

 private:
  BookSession& session_;
};

}  // namespace pennacle
