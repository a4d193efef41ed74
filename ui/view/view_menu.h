// SPDX-License-Identifier: GPL-3.0-or-later
// The main window's "View" menu: the picture editor, the spectrogram of the generated sound
// beside its picture, a picture made from a wave file and saved as PNG,
// re-rendering whenever another program saves the picture file, and note
// names on the frequency axis. The window's title line tells what the
// watch is doing and whether the last render clipped.
#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <memory>
#include <string>

#include "engine/settings.h"
#include "files/picture.h"

class QAction;
class QMenu;
class QTimer;

namespace vellomar {

class MainWindow;
class PictureWatcher;
class SpectrogramWindow;

// What the last render made: the picture it read, its settings and where
// its sound is.
struct RenderedSound {
  std::shared_ptr<const PictureBitmap> picture;
  RenderSettings settings;
  std::string path;
};

class ViewMenu : public QObject {
  Q_OBJECT

 public:
  explicit ViewMenu(MainWindow& window);

  QMenu* menu() const { return menu_; }
  // "Edit picture..." (Ctrl+E): the picture editor.
  QAction* editAction() const { return edit_; }
  // "Edit a sound...": a recording as its picture in the editor.
  QAction* editSoundAction() const { return editSound_; }
  QAction* spectrogramAction() const { return spectrogram_; }
  QAction* pictureFromWaveAction() const { return pictureFromWave_; }
  QAction* savePictureAction() const { return savePicture_; }
  QAction* watchAction() const { return watch_; }
  // Note names (C4, C#4, ...) instead of hertz on the frequency axis and
  // the template, on the Logarithmic scale.
  QAction* noteNamesAction() const { return noteNames_; }
  // The menu's last line: what the watch is doing (hidden when nothing).
  QAction* statusAction() const { return status_; }
  PictureWatcher& watcher() const { return *watcher_; }
  // The spectrogram window, once opened.
  SpectrogramWindow* spectrogramWindow() const;

  // The commands, as the menu runs them.
  void showSpectrogram();
  void pictureFromWaveFile();
  void savePictureAs();
  void setWatching(bool on);

  // The status the window shows (empty: none).
  const QString& status() const { return statusText_; }
  // What the last render said of its level (empty: it clipped nothing).
  const QString& renderNote() const { return renderNote_; }

 private:
  // What the status says, so that it can go when it is no longer true.
  enum class Status {
    None,
    Watching,        // "Watching 'x'", with what happened last when that stays true
    RenderFailed,    // the last render of a save did not complete
    NotRendered,     // a save is shown but could not be rendered (why: blockedReason)
    Unreadable,      // the last save could not be loaded
    SaveLeftUnread,  // the user kept unsaved edits over the last save
    Deleted,         // the file was deleted and the watch ended
  };

  void soundGenerated();
  void pictureChanged();
  void settingsChanged();
  void fileDeleted();
  void checkDeletedFile();
  void refreshSpectrogram();
  void pictureSaved(std::shared_ptr<const PictureBitmap> picture);
  void documentSaved(const std::string& path);
  void renderSavedPicture();
  void setStatus(Status status, const QString& text);
  void showTitle();
  void updateActions();
  QString watchedName() const;
  // Why a save of the watched file cannot be rendered now; empty when it can.
  QString blockedReason() const;

  MainWindow& window_;
  QMenu* menu_ = nullptr;
  QAction* edit_ = nullptr;
  QAction* editSound_ = nullptr;
  QAction* spectrogram_ = nullptr;
  QAction* pictureFromWave_ = nullptr;
  QAction* savePicture_ = nullptr;
  QAction* watch_ = nullptr;
  QAction* noteNames_ = nullptr;
  QAction* status_ = nullptr;
  PictureWatcher* watcher_ = nullptr;
  QPointer<SpectrogramWindow> spectrogramWindow_;
  RenderedSound rendered_;
  qint64 renderedMilliseconds_ = 0;
  QString baseTitle_;
  QString statusText_;
  Status statusKind_ = Status::None;
  // While Status::Deleted shows: the file that was deleted, looked at now
  // and then so that the status goes when it is back.
  std::string deletedPath_;
  QTimer* deletedCheck_ = nullptr;
  QString renderNote_;
  // A save that came while the window was busy (a render, a dialog): its
  // render follows once the window is free.
  std::shared_ptr<const PictureBitmap> pendingPicture_;
  bool rendering_ = false;
  // The name "Save picture as..." proposes for a picture made from a wave:
  // the wave's, as a PNG file.
  std::string suggestedName_;
};

// Builds the "View" menu into the window's menu bar, before "Help", and
// hooks it to the window's commands.
void installViewMenu(MainWindow& window);

// The window's View menu, once installed.
ViewMenu* viewMenuOf(MainWindow& window);

}  // namespace vellomar
