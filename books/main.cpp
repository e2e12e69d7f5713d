// pennacle-books: the second window on the ledger the ledger window opens.
#include <QApplication>
#include <cstdio>

#include "books/books_window.h"
#include "ledger/ledger_location.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setOrganizationName("Pennacle");
  QApplication::setApplicationName("pennacle-books");
  QApplication::setApplicationDisplayName("Pennacle 账本");
  QApplication::setDesktopFileName("pennacle-books");
  const pennacle::Result<pennacle::LedgerLocation> where = pennacle::ledger_location();
  if (!where.ok()) {
    std::fprintf(stderr, "pennacle-books: %s\n", where.status().message().c_str());
    return 1;
  }
  // A packaged program's first start makes the ledger, whichever of the two windows starts first.
  if (const pennacle::Result<bool> made = pennacle::make_first_ledger(*where); !made.ok()) {
    std::fprintf(stderr, "pennacle-books: %s\n", made.status().message().c_str());
    return 1;
  }
  pennacle::BooksWindow window(where->file);
  window.show();
  return QApplication::exec();
}
