// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/view/picture_watcher.h"

#include <sys/stat.h>

#include <QFileInfo>
#include <filesystem>
#include <system_error>

#include "ui/common/file_names.h"

namespace vellomar {

PictureWatcher::PictureWatcher(QObject* parent) : QObject(parent), files_(this), settle_(this), poll_(this) {
  settle_.setSingleShot(true);
  poll_.setInterval(kPollMilliseconds);
  connect(&poll_, &QTimer::timeout, this, &PictureWatcher::somethingChanged);
  connect(&settle_, &QTimer::timeout, this, &PictureWatcher::settled);
  connect(&files_, &QFileSystemWatcher::fileChanged, this, &PictureWatcher::somethingChanged);
  connect(&files_, &QFileSystemWatcher::directoryChanged, this, &PictureWatcher::somethingChanged);
}

void PictureWatcher::setTimings(int settleMilliseconds, int retryMilliseconds, int tries) {
  settleMilliseconds_ = settleMilliseconds;
  retryMilliseconds_ = retryMilliseconds;
  tries_ = tries;
}

PictureWatcher::Signature PictureWatcher::signatureOf(const std::string& path) {
  Signature s;
  struct stat st = {};
  if (::stat(path.c_str(), &st) != 0) return s;
  s.exists = true;
  s.size = static_cast<qint64>(st.st_size);
  s.inode = static_cast<quint64>(st.st_ino);
  s.modifiedNs = static_cast<qint64>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
  return s;
}

QString PictureWatcher::absoluteName(const QString& path) {
  // Made absolute by its bytes: Qt's own file classes would spoil a name
  // that is not UTF-8.
  std::filesystem::path file(pathFromQt(path));
  std::error_code error;
  if (file.is_relative()) file = std::filesystem::current_path(error) / file;
  return pathToQt(file.lexically_normal().string());
}

void PictureWatcher::watch(const QString& path) {
  stop();
  path_ = absoluteName(path);
  bytes_ = pathFromQt(path_);
  seen_ = signatureOf(bytes_);
  if (hasUndecodableBytes(path_)) {
    poll_.start();
  } else {
    rewatch();
  }
}

void PictureWatcher::stop() {
  settle_.stop();
  poll_.stop();
  if (!files_.files().isEmpty()) files_.removePaths(files_.files());
  if (!files_.directories().isEmpty()) files_.removePaths(files_.directories());
  path_.clear();
  bytes_.clear();
  goneOnce_ = false;
}

void PictureWatcher::rewatch() {
  if (path_.isEmpty() || poll_.isActive()) return;
  // A file replaced by a rename is a new file: watch it anew. The folder
  // tells of a file that comes back under the name.
  if (!files_.files().contains(path_) && QFileInfo::exists(path_)) files_.addPath(path_);
  const QString folder = QFileInfo(path_).absolutePath();
  if (!files_.directories().contains(folder)) files_.addPath(folder);
}

void PictureWatcher::somethingChanged() {
  if (path_.isEmpty()) return;
  rewatch();
  const Signature now = signatureOf(bytes_);
  if (now == seen_ && !settle_.isActive()) return;  // another file of the folder
  pending_ = now;
  triesLeft_ = tries_;
  goneOnce_ = false;
  settle_.start(settleMilliseconds_);
}

void PictureWatcher::settled() {
  if (path_.isEmpty()) return;
  rewatch();
  const Signature now = signatureOf(bytes_);
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
  std::shared_ptr<const PictureBitmap> picture = loadPicture(bytes_);
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
