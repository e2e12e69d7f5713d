#include "ui/file_follower.h"

#include <QFileInfo>

namespace pennacle {

FileFollower::FileFollower(const QStringList& files, std::function<void()> changed)
    : files_(files), changed_(std::move(changed)) {
  settle_.setSingleShot(true);
  settle_.setInterval(kSettleMs);
  connect(&settle_, &QTimer::timeout, this, [this] {
    follow_names();
    if (changed_) changed_();
  });
  // A timer already running is left to run: a steady stream of writes still gives a call every
  // kSettleMs, so the window follows an import as it goes.
  const auto heard = [this] {
    if (!settle_.isActive()) settle_.start();
  };
  connect(&watcher_, &QFileSystemWatcher::fileChanged, this, heard);
  connect(&watcher_, &QFileSystemWatcher::directoryChanged, this, heard);
  QStringList folders;
  for (const QString& f : files_) {
    const QString folder = QFileInfo(f).absolutePath();
    if (!folders.contains(folder)) folders << folder;
  }
  watcher_.addPaths(folders);
  follow_names();
}

void FileFollower::follow_names() {
  const QStringList watched = watcher_.files();
  for (const QString& f : files_) {
    if (!watched.contains(f) && QFileInfo::exists(f)) watcher_.addPath(f);
  }
}

}  // namespace pennacle
