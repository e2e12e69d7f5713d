// Hears about changes to a few files from the kernel (inotify, through QFileSystemWatcher) and
// calls back on the user-interface thread: nothing runs while the files rest.
#pragma once

#include <QFileSystemWatcher>
#include <QObject>
#include <QStringList>
#include <QTimer>
#include <functional>

namespace pennacle {

class FileFollower final : public QObject {
 public:
  // `changed` is called once per burst of changes (a thousand writes of an import give a few
  // calls, not a thousand), at most kSettleMs after the burst's first change: a write to one of
  // `files`, or a file made, removed or renamed over in their folders.
  FileFollower(const QStringList& files, std::function<void()> changed);

  static constexpr int kSettleMs = 150;

 private:
  // A file replaced by a rename, or made again, is a new file: the watch follows the name.
  void follow_names();

  QStringList files_;
  std::function<void()> changed_;
  QFileSystemWatcher watcher_;
  QTimer settle_;
};

}  // namespace pennacle
