// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/view/picture_watcher.h"

#include <sys/stat.h>

#include <QFileInfo>

namespace vellomar {

PictureWatcher::PictureWatcher(QObject* parent) : QObject(parent), files_(this), settle_(this) {
  settle_.setSingleShot(true);
  connect(&settle_, &QTimer::timeout, this, &PictureWatcher::settled);
  connect(&files_, &QFileSystemWatcher::fileChanged, this, &PictureWatcher::somethingChanged);
  connect(&files_, &QFileSystemWatcher::directoryChanged, this, &PictureWatcher::somethingChanged);
}

void PictureWatcher::setTimings(int settleMilliseconds, int retryMilliseconds, int tries) {
  settleMilliseconds_ = settleMilliseconds;
  retryMilliseconds_ = retryMilliseconds;
  tries_ = tries;
}

PictureWatcher::Signature PictureWatcher::signatureOf(const QString& path) {
  Signature s;
  struct stat st = {};
  if (::stat(QFile::encodeName(path).constData(), &st) != 0) return s;
  s.exists = true;
  s.size = static_cast<qint64>(st.st_size);
  s.inode = static_cast<quint64>(st.st_ino);
  s.modifiedNs = static_cast<qint64>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
  return s;
}

void PictureWatcher::watch(const QString& path) {
  stop();
  path_ = QFileInfo(path).absoluteFilePath();
  seen_ = signatureOf(path_);
  rewatch();
}

void PictureWatcher::stop() {
  settle_.stop();
  if (!files_.files().isEmpty()) files_.removePaths(files_.files());
  if (!files_.directories().isEmpty()) files_.removePaths(files_.directories());
  path_.clear();
  goneOnce_ = false;
}

void PictureWatcher::rewatch() {
  if (path_.isEmpty()) return;
  // A file replaced by a rename is a new file: watch it anew. The folder
  // tells of a file that comes back under the name.
  if (!files_.files().contains(path_) && QFileInfo::exists(path_)) files_.addPath(path_);
  const QString folder = QFileInfo(path_).absolutePath();
  if (!files_.directories().contains(folder)) files_.addPath(folder);
}

void PictureWatcher::somethingChanged() {
  if (path_.isEmpty()) return;
  rewatch();
  const Signature now = signatureOf(path_);
  if (now == seen_ && !settle_.isActive()) return;  // another file of the folder
  pending_ = now;
  triesLeft_ = tries_;
  goneOnce_ = false;
  settle_.start(settleMilliseconds_);
}

void PictureWatcher::settled() {
  if (path_.isEmpty()) return;
  rewatch();
  const Signature now = signatureOf(path_);
  if (!now.exists) {
    // Gone for a moment is a save by delete and write; gone twice is gone.
    if (!goneOnce_) {
      goneOnce_ = true;
      settle_.start(settleMilliseconds_);
      return;
    }
    stop();
    emit pictureDeleted();
    return;
  }
  goneOnce_ = false;
  if (!(now == pending_)) {
    // Still being written: wait for it to keep still.
    pending_ = now;
    settle_.start(settleMilliseconds_);
    return;
  }
  std::shared_ptr<const PictureBitmap> picture = loadPicture(QFile::encodeName(path_).toStdString());
  if (!picture) {
    if (--triesLeft_ > 0) {
      settle_.start(retryMilliseconds_);
    } else {
      // Taken as seen, so that only the next save tries again.
      seen_ = now;
      emit pictureUnreadable();
    }
    return;
  }
  seen_ = now;
  emit pictureSaved(std::move(picture));
}

}  // namespace vellomar
