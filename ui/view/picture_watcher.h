// SPDX-License-Identifier: GPL-3.0-or-later
// Watching the picture file for saves by another program.
//
// A save is taken once the file has kept still for a moment (editors write
// in several steps, or write a new file and rename it over the old one),
// and only when the file is another than the one last seen (a folder's
// other files changing is no save). A picture that cannot be loaded yet is
// tried again a few times, then left until the next save; a file that is
// gone, and stays gone, ends the watch. A name Qt cannot open (bytes that
// are not UTF-8, see ui/common/file_names.h) is looked at every
// kPollMilliseconds instead of through Qt's watcher.
#pragma once

#include <QFileSystemWatcher>
#include <QObject>
#include <QString>
#include <QTimer>
#include <memory>
#include <string>

#include "files/picture.h"

namespace vellomar {

// How often a file whose name Qt cannot watch is looked at.
inline constexpr int kPollMilliseconds = 500;

class PictureWatcher : public QObject {
  Q_OBJECT

 public:
  explicit PictureWatcher(QObject* parent = nullptr);

  // Watches `path` (as pathToQt holds it) from now on, the file as it is
  // now counting as seen.
  void watch(const QString& path);
  void stop();
  bool watching() const { return !path_.isEmpty(); }
  // The file watched, by its absolute name.
  const QString& path() const { return path_; }
  // `path` as path() names it once watched.
  static QString absoluteName(const QString& path);

  // How long a file must keep still, how long between tries of a picture
  // that does not load, and how many tries it gets (tests shorten them).
  void setTimings(int settleMilliseconds, int retryMilliseconds, int tries);

 signals:
  // A save has been loaded.
  void pictureSaved(std::shared_ptr<const PictureBitmap> picture);
  // A save did not load in any of its tries; the watch goes on.
  void pictureUnreadable();
  // The file is gone; the watch has ended.
  void pictureDeleted();

 private:
  struct Signature {
    bool exists = false;
    qint64 size = -1;
    qint64 modifiedNs = 0;
    quint64 inode = 0;
    bool operator==(const Signature&) const = default;
  };
  static Signature signatureOf(const std::string& path);
  void somethingChanged();
  void settled();
  void rewatch();

  QFileSystemWatcher files_;
  QTimer settle_;
  QTimer poll_;
  QString path_;
  std::string bytes_;  // path_ as the file system names it
  Signature seen_;     // the file as last loaded (or when the watch began)
  Signature pending_;  // the file as it was when the settle timer started
  int retryMilliseconds_ = 400;
  int settleMilliseconds_ = 300;
  int tries_ = 5;
  int triesLeft_ = 0;
  bool goneOnce_ = false;
};

}  // namespace vellomar
