#include "books/import_page.h"

#include "books/book_session.h"

namespace pennacle {

ImportPage::ImportPage(BookSession& session, QWidget* parent) : QWidget(parent), session_(session) {
  setAccessibleName("导入");
}

void ImportPage::choose_file() {}

void ImportPage::preview_file(const QString&) {}

}  // namespace pennacle
