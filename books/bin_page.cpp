#include "books/bin_page.h"

#include "books/book_session.h"

namespace pennacle {

BinPage::BinPage(BookSession& session, QWidget* parent) : QWidget(parent), session_(session) {
  setAccessibleName("回收站");
}

}  // namespace pennacle
