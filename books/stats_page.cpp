#include "books/stats_page.h"

#include "books/book_session.h"

namespace pennacle {

StatsPage::StatsPage(BookSession& session, QWidget* parent) : QWidget(parent), session_(session) {
  setAccessibleName("统计");
}

}  // namespace pennacle
