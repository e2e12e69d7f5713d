// What the views of the second window share: the store's thread, the ledger as last loaded, the undo
// stack, and the reload that follows every change, whoever made it (this window, the ledger window,
// kdbtool or another 账本). Lives on the user-interface thread.
#pragma once

#include <QObject>
#include <QString>
#include <QUndoStack>
#include <memory>
#include <string>

#include "books/book.h"
#include "books/book_filter.h"
#include "books/book_store.h"

namespace pennacle {

class FileFollower;

class BookSession final : public QObject {
  Q_OBJECT

 public:
  // The ledger `ledger_utf8`; nothing is read until reload().
  explicit BookSession(std::string ledger_utf8, QObject* parent = nullptr);
  ~BookSession() override;

  BookStore& store() { return store_; }
  QUndoStack& undo() { return undo_; }
  // The last load; an empty book before the first.
  const std::shared_ptr<const Book>& book() const { return book_; }
  const std::string& ledger() const { return store_.ledger(); }

  // Loads the ledger again on the store's thread. One asked for while one runs is run once after
  // it, so a burst of changes gives at most two loads.
  void reload();
  // Reloads whenever the ledger or a file beside it changes on the disk, at most FileFollower's
  // settle time after the change. Nothing runs while the files rest.
  void follow_files();
  bool loading() const { return loading_; }

 signals:
  void loaded(std::shared_ptr<const pennacle::Book> book);
  void progress(int done, int total);
  // A failure the user must read (UTF-8 text in a QString).
  void problem(const QString& message);
  // A view asks the 账单 view to show these bills (a click on a bar or a slice).
  void bills_asked(const pennacle::BillFilter& filter);

 private:
  void load_done(Result<std::shared_ptr<const Book>> book);

  BookStore store_;
  QUndoStack undo_;
  std::shared_ptr<const Book> book_;
  std::unique_ptr<FileFollower> follower_;
  bool loading_ = false;
  bool again_ = false;
};

}  // namespace pennacle
