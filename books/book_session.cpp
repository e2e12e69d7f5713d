#include "books/book_session.h"

#include <QStringList>

#include "store/side_files.h"
#include "ui/file_follower.h"

namespace pennacle {

BookSession::BookSession(std::string ledger_utf8, QObject* parent)
    : QObject(parent), store_(std::move(ledger_utf8)), book_(std::make_shared<Book>()) {}

BookSession::~BookSession() = default;

void BookSession::reload() {
  if (loading_) {
    again_ = true;
    return;
  }
  loading_ = true;
  const std::string ledger = store_.ledger();
  QPointer<BookSession> self(this);
  store_.run<Result<std::shared_ptr<const Book>>>(
      this,
      [ledger, self] {
        return load_book(ledger, [self](int32_t done, int32_t total) {
          BookStore::post_to_ui([self, done, total] {
            if (self) emit self->progress(done, total);
          });
        });
      },
      [this](Result<std::shared_ptr<const Book>> book) { load_done(std::move(book)); });
}

void BookSession::load_done(Result<std::shared_ptr<const Book>> book) {
  loading_ = false;
  if (book.ok()) {
    book_ = *book;
    emit loaded(book_);
  } else {
    emit problem(QString::fromStdString(book.status().message()));
  }
  if (again_) {
    again_ = false;
    reload();
  }
}

void BookSession::follow_files() {
  const QString file = QString::fromStdString(store_.ledger());
  QStringList files = {file};
  // The side files: categories and the recycle bin are shown, an import or an edit writes its own.
  for (std::string_view suffix : kSideFileSuffixes) {
    files << file + "." + QString::fromUtf8(suffix.data(), static_cast<qsizetype>(suffix.size()));
  }
  follower_ = std::make_unique<FileFollower>(files, [this] { reload(); });
}

}  // namespace pennacle
