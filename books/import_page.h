// The 导入 view of the second window.
#pragma once

#include <QString>
#include <QWidget>

namespace pennacle {

class BookSession;

class ImportPage final : public QWidget {
  Q_OBJECT

 public:
  explicit ImportPage(BookSession& session, QWidget* parent = nullptr);

  // Asks for an export file and previews it.
  void choose_file();
  // Shows what importing the export at `path` would do; nothing is written until confirmed.
  void preview_file(const QString& path);

 private:
  BookSession& session_;
};

}  // namespace pennacle
