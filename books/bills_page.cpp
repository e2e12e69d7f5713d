#include "books/bills_page.h"

#include "books/book_session.h"

namespace pennacle {

BillsPage::BillsPage(BookSession& session, QWidget* parent) : QWidget(parent), session_(session) {
  setAccessibleName("账单");
}

void BillsPage::focus_search() {}

}  // namespace pennacle
