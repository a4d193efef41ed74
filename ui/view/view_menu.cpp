// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/view/view_menu.h"

#include <QAction>
#include <QApplication>
#include <QFileInfo>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QTime>
#include <QTimer>
#include <algorithm>
#include <filesystem>
#include <system_error>

#include "engine/analysis.h"
#include "ui/common/app_state.h"
#include "files/analysis_setup.h"
#include "files/levels_report.h"
#include "files/messages.h"
#include "files/paths.h"
#include "files/picture_preview.h"
#include "files/picture_writer.h"
#include "ui/axes/axes.h"
#include "ui/document/picture_document.h"
#include "ui/editor/editor_window.h"
#include "ui/editor/picture_files.h"
#include "ui/editor/sound_edit.h"
#include "ui/main_window/main_window.h"
#include "ui/view/picture_size_dialog.h"
#include "ui/view/picture_watcher.h"
#include "ui/playback/live_render.h"
#include "ui/progress/background_analysis.h"
#include "ui/playback/playback.h"
#include "ui/axes/preview_frame.h"
#include "ui/main_window/settings_controls.h"
#include "ui/main_window/settings_logic.h"
#include "ui/view/spectrogram_window.h"
#include "ui/main_window/window_commands.h"

namespace vellomar {

namespace {

// Room for a path in the file choosers, as for the main window's files.
constexpr std::size_t kPathCapacity = kMaxPathLength + 1;
// How soon a save that came while the window was busy is tried again.
constexpr int kBusyRetryMilliseconds = 300;

MessageOwner ownerOf(MainWindow& window) { return static_cast<QWidget*>(&window); }

// How big the picture of an analysis is: as given, or the default size
// offered to the user first.
enum class PictureSize { AsGiven, Ask };

// Analyses `path` with `settings` into a width x height picture (0: the
// default size), a wait cursor up meanwhile. Null after showing why not,
// or when the user cancelled the size.
std::shared_ptr<PictureBitmap> analyseForWindow(MainWindow& window, const std::string& path,
                                                const RenderSettings& settings, std::uint32_t width,
                                                std::uint32_t height, std::uint32_t& sampleCount,
                                                PictureSize size = PictureSize::AsGiven) {
  const QString name = displayName(QFileInfo(pathToQt(path)).fileName());
  Refusal refusal;
  PreparedAnalysis prepared;
  AnalysisSteps steps;
  steps.name = name;
  if (size == PictureSize::Ask) {
    // The wave is open: its length makes the default size.
    steps.chooseSize = [&window, &name](std::uint32_t& w, std::uint32_t& h) {
      return askPictureSize(&window, name, w, h);
    };
  }
  const ResultCode result = analyseInBackground(&window, path, settings, width, height, steps, prepared, refusal);
  if (result == kResultAborted) return nullptr;
  if (result != kResultOk) {
    showRefusal(ownerOf(window), refusal);
    return nullptr;
  }
  sampleCount = prepared.wave.sampleCount;
  return prepared.picture;
}

// The analysis of a rendered sound as the window shows it: grey for a mono
// sound, the two channels as red and green for a stereo one.
QImage heardSound(const PictureBitmap& sound) {
  const bool stereo = sound.red.size() == sound.pixels.size() && !sound.red.empty();
  return picturePreview(sound, stereo ? PreviewColours::Channels : PreviewColours::Grey);
}

// The picture a render read, as its sound's channels heard it: grey for a
// mono sound; for a stereo one its red and green when the render read them
// (stereo on), else its brightness on both channels (a stereo input).
QImage heardPicture(const PictureBitmap& picture, const PictureBitmap& sound, const RenderSettings& settings) {
  const bool stereoSound = sound.red.size() == sound.pixels.size() && !sound.red.empty();
  if (!stereoSound) return picturePreview(picture, PreviewColours::Grey);
  if (settings.stereo) return picturePreview(picture, PreviewColours::Channels);
  QImage image = picturePreview(picture, PreviewColours::Grey).convertToFormat(QImage::Format_RGB32);
  for (int y = 0; y < image.height(); ++y) {
    auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
    for (int x = 0; x < image.width(); ++x) line[x] = qRgb(qRed(line[x]), qRed(line[x]), 0);
  }
  return image;
}

}  // namespace

ViewMenu::ViewMenu(MainWindow& window) : QObject(&window), window_(window) {
  setObjectName(QStringLiteral("viewMenuCommands"));
  baseTitle_ = window.windowTitle();
  const MainWindowControls& c = window.controls();

  menu_ = new QMenu(QStringLiteral("&View"), c.menuBar);
  menu_->setObjectName(QStringLiteral("viewMenu"));
  c.menuBar->insertMenu(c.helpMenu->menuAction(), menu_);

  const auto add = [this](const char* text, const char* name, const QKeySequence& keys) {
    QAction* action = menu_->addAction(QString::fromUtf8(text));
    action->setObjectName(QString::fromUtf8(name));
    action->setShortcut(keys);
    return action;
  };
  edit_ = add("Edit picture...", "editPictureAction", QKeySequence(Qt::CTRL | Qt::Key_E));
  editSound_ = add("Edit a sound...", "editSoundAction", QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_E));
  menu_->addSeparator();
  spectrogram_ = add("Spectrogram of generated sound", "spectrogramAction", QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_E));
  menu_->addSeparator();
  pictureFromWave_ = add("Picture from wave file...", "pictureFromWaveAction", QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_O));
  savePicture_ = add("Save picture as...", "savePictureAction", QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_S));
  menu_->addSeparator();
  watch_ = add("Re-render when the picture file changes", "watchAction", QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_R));
  watch_->setCheckable(true);
  menu_->addSeparator();
  noteNames_ = add("Note names on the frequency axis", "noteNamesAction", QKeySequence());
  noteNames_->setCheckable(true);
  noteNames_->setChecked(noteChoice.namesOnAxis);
  status_ = menu_->addAction(QString());
  status_->setObjectName(QStringLiteral("watchStatus"));
  status_->setEnabled(false);
  status_->setVisible(false);

  watcher_ = new PictureWatcher(this);
  watcher_->setObjectName(QStringLiteral("pictureWatcher"));

  connect(edit_, &QAction::triggered, this, [this] { openEditor(window_); });
  connect(editSound_, &QAction::triggered, this, [this] { editSoundFile(window_); });
  connect(spectrogram_, &QAction::triggered, this, &ViewMenu::showSpectrogram);
  connect(pictureFromWave_, &QAction::triggered, this, &ViewMenu::pictureFromWaveFile);
  connect(savePicture_, &QAction::triggered, this, &ViewMenu::savePictureAs);
  connect(watch_, &QAction::toggled, this, &ViewMenu::setWatching);
  connect(noteNames_, &QAction::toggled, this, [this](bool on) {
    noteChoice.namesOnAxis = on;
    redrawAxes(window_);
  });
  connect(&window, &MainWindow::soundGenerated, this, &ViewMenu::soundGenerated);
  connect(&window, &MainWindow::pictureChanged, this, &ViewMenu::pictureChanged);
  connect(watcher_, &PictureWatcher::pictureSaved, this, &ViewMenu::pictureSaved);
  connect(&window.document(), &PictureDocument::saved, this, &ViewMenu::documentSaved);
  connect(&window, &MainWindow::settingsChanged, this, &ViewMenu::settingsChanged);
  connect(watcher_, &PictureWatcher::pictureUnreadable, this, [this] {
    setStatus(Status::Unreadable, QStringLiteral("'%1' could not be loaded; waiting for the next save").arg(watchedName()));
    // What plays is the picture as it was: it stops, and the title says why.
    if (LiveRender* live = liveRenderOf(window_); live && playbackOf(window_).isPlaying()) {
      live->pictureUnreadable(watchedName());
      setStatus(Status::Unreadable,
                QStringLiteral("'%1' could not be loaded; playing stopped, waiting for the next save").arg(watchedName()));
    }
  });
  if (LiveRender* live = liveRenderOf(window)) {
    connect(live, &LiveRender::statusChanged, this, [this](const QString& text) {
      if (text.isEmpty()) return;
      if (!watcher_->watching()) {
        setStatus(Status::None, text);
        return;
      }
      QString rest = text;
      rest[0] = rest[0].toLower();
      setStatus(Status::Watching, QStringLiteral("Watching '%1'; %2").arg(watchedName(), rest));
    });
  }
  connect(watcher_, &PictureWatcher::pictureDeleted, this, &ViewMenu::fileDeleted);
  deletedCheck_ = new QTimer(this);
  deletedCheck_->setInterval(kPollMilliseconds);
  connect(deletedCheck_, &QTimer::timeout, this, &ViewMenu::checkDeletedFile);

  Playback& playback = playbackOf(window);
  connect(&playback, &Playback::positionChanged, this, [this](qint64 milliseconds) {
    if (!spectrogramWindow_) return;
    spectrogramWindow_->setPlayhead(
        renderedMilliseconds_ > 0 ? static_cast<qreal>(milliseconds) / static_cast<qreal>(renderedMilliseconds_) : -1.0);
  });
  connect(&playback, &Playback::playingChanged, this, [this](bool playing) {
    if (!playing && spectrogramWindow_) spectrogramWindow_->setPlayhead(-1.0);
  });
  updateActions();
}

SpectrogramWindow* ViewMenu::spectrogramWindow() const { return spectrogramWindow_.data(); }

QString ViewMenu::watchedName() const { return displayName(QFileInfo(watcher_->path()).fileName()); }

void ViewMenu::setStatus(Status status, const QString& text) {
  statusKind_ = status;
  if (status != Status::Deleted) {
    deletedPath_.clear();
    deletedCheck_->stop();
  }
  statusText_ = text;
  status_->setText(text);
  status_->setVisible(!text.isEmpty());
  showTitle();
}

void ViewMenu::showTitle() {
  QString title = baseTitle_;
  for (const QString* part : {&statusText_, &renderNote_}) {
    if (!part->isEmpty()) title += QStringLiteral(" - ") + *part;
  }
  window_.setWindowTitle(title);
}

void ViewMenu::updateActions() {
  spectrogram_->setEnabled(rendered_.picture != nullptr);
  savePicture_->setEnabled(window_.controls().previewFrame->picture() != nullptr);
  watch_->setEnabled(!window_.session().picturePath.empty() || watch_->isChecked());
}

void ViewMenu::showSpectrogram() {
  if (!rendered_.picture) return;
  if (!spectrogramWindow_) spectrogramWindow_ = new SpectrogramWindow(&window_);
  refreshSpectrogram();
  spectrogramWindow_->show();
  spectrogramWindow_->raise();
  spectrogramWindow_->activateWindow();
}

void ViewMenu::refreshSpectrogram() {
  if (!spectrogramWindow_ || !rendered_.picture) return;
  // The analysis runs behind a dialog whose event loop may bring a newer
  // render: this one is kept whole until it is shown.
  const RenderedSound rendered = rendered_;
  const PictureBitmap& picture = *rendered.picture;
  std::uint32_t count = 0;
  const std::shared_ptr<PictureBitmap> sound =
      analyseForWindow(window_, rendered.path, rendered.settings, picture.width, picture.height, count);
  if (!sound || !spectrogramWindow_) return;
  const float seconds = static_cast<float>(count) / static_cast<float>(rendered.settings.sampleRate);
  renderedMilliseconds_ = static_cast<qint64>(count) * 1000 / rendered.settings.sampleRate;
  spectrogramWindow_->setContent(heardPicture(picture, *sound, rendered.settings), heardSound(*sound), seconds,
                                 rendered.settings);
}

void ViewMenu::soundGenerated() {
  rendered_.picture = window_.controls().previewFrame->picture();
  rendered_.settings = renderSettings;
  rendered_.path = renderSettings.outputPath;
  renderNote_ = QString::fromStdString(clippingReport(lastRenderLevels, renderSettings.masterGainDb));
  showTitle();
  updateActions();
  if (spectrogramWindow_ && spectrogramWindow_->isVisible()) refreshSpectrogram();
  // The picture shown has been heard now: a save left unrendered, or a
  // render that did not complete, is no longer the news.
  if (watcher_->watching() && (statusKind_ == Status::NotRendered || statusKind_ == Status::RenderFailed)) {
    setStatus(Status::Watching, QStringLiteral("Watching '%1'").arg(watchedName()));
  }
}

void ViewMenu::pictureChanged() {
  updateActions();
  if (!watcher_->watching()) {
    // A deleted file is old news once another picture is shown.
    if (statusKind_ == Status::Deleted) setStatus(Status::None, QString());
    return;
  }
  const QString path = pathToQt(window_.session().picturePath);
  if (path.isEmpty()) {
    watcher_->stop();
    {
      const QSignalBlocker blocker(watch_);
      watch_->setChecked(false);
    }
    setStatus(Status::None, QString());
    updateActions();
  } else if (PictureWatcher::absoluteName(path) != watcher_->path()) {
    // Another picture file: it is the one watched from now on.
    watcher_->watch(path);
    setStatus(Status::Watching, QStringLiteral("Watching '%1'").arg(watchedName()));
  } else if (statusKind_ == Status::Unreadable || statusKind_ == Status::SaveLeftUnread) {
    // The file has been loaded again as it is now.
    setStatus(Status::Watching, QStringLiteral("Watching '%1'").arg(watchedName()));
  }
}

void ViewMenu::settingsChanged() {
  // What kept a save from being rendered may have been put right (or
  // another thing may keep it now).
  if (statusKind_ != Status::NotRendered || !watcher_->watching()) return;
  const QString blocked = blockedReason();
  setStatus(Status::NotRendered,
            blocked.isEmpty() ? QStringLiteral("'%1' changed; generate the sound to hear it").arg(watchedName()) : blocked);
}

QString ViewMenu::blockedReason() const {
  const QString name = watchedName();
  const bool waveSource = renderSettings.inputSource == InputSource::WaveFile;
  if (renderSettings.outputPath.empty() || !outputReplaceableWithoutAsking(window_)) {
    return QStringLiteral("'%1' changed; generate the sound once to choose where it goes").arg(name);
  }
  if (waveSource && (renderSettings.inputPath.empty() || inputWaveDuration == 0.0f)) {
    return QStringLiteral("'%1' changed; choose a usable input wave file to hear it").arg(name);
  }
  if (waveSource && sameFile(renderSettings.outputPath, renderSettings.inputPath)) {
    return QStringLiteral("'%1' changed; the input and output wave are the same file").arg(name);
  }
  return QString();
}

void ViewMenu::fileDeleted() {
  const QString file = PictureWatcher::absoluteName(pathToQt(window_.session().picturePath));
  {
    const QSignalBlocker blocker(watch_);
    watch_->setChecked(false);
  }
  pendingPicture_.reset();
  setStatus(Status::Deleted,
            QStringLiteral("'%1' was deleted; stopped watching").arg(displayName(QFileInfo(file).fileName())));
  // The status goes when the file is back (restored, or written anew).
  deletedPath_ = pathFromQt(file);
  deletedCheck_->start();
  updateActions();
}

void ViewMenu::checkDeletedFile() {
  std::error_code error;
  if (statusKind_ != Status::Deleted || deletedPath_.empty()) {
    deletedCheck_->stop();
  } else if (std::filesystem::exists(std::filesystem::path(deletedPath_), error)) {
    setStatus(Status::None, QString());
  }
}

void ViewMenu::pictureFromWaveFile() {
  if (!mayDropEdits(&window_, window_.document(), QStringLiteral("Making a picture from a wave file"))) return;
  std::string path;
  // The chooser offers what the input reader takes.
  if (!chooseFile(path, kPathCapacity, false, "Select wave file to analyse",
                  fileOptions.input.anyAudio ? kSoundFilters : kWaveFilters, nullptr, &window_,
                  window_.session().lastChosenFolder)) {
    return;
  }
  // The analysis takes out what the current source puts in (the pink
  // tilt), so that rendering the picture with it gives the sound back.
  std::uint32_t count = 0;
  std::shared_ptr<PictureBitmap> picture =
      analyseForWindow(window_, path, renderSettings, 0, 0, count, PictureSize::Ask);
  if (!picture) return;
  showPicture(window_, std::move(picture), std::string());
  suggestedName_ = std::filesystem::path(path).replace_extension(".png").string();
  if (renderSettings.inputSource != InputSource::WaveFile) {
    // Noise renders as long as the wave was, to its last sample.
    const float seconds = durationOfSamples(count, renderSettings.sampleRate);
    renderSettings.durationSeconds = std::clamp(seconds, kMinDurationSeconds, kMaxDurationSeconds);
    window_.controls().durationEdit->setText(QString::fromStdString(formatDuration(renderSettings.durationSeconds)));
    refreshAfterChange(window_);
  }
  window_.controls().generateButton->setFocus();
}

void ViewMenu::savePictureAs() {
  if (!window_.document().hasPicture()) return;
  // The picture's own PNG file is proposed, or the analysed wave's name.
  saveDocumentAs(&window_, window_.document(), suggestedName_);
}

void ViewMenu::documentSaved(const std::string& path) {
  window_.session().picturePath = path;
  // The picture comes from this file now; a watch follows it, taking the
  // file as just written as seen.
  if (watcher_->watching()) {
    watcher_->watch(pathToQt(path));
    setStatus(Status::Watching, QStringLiteral("Watching '%1'").arg(watchedName()));
  } else if (statusKind_ == Status::Deleted) {
    // A file is there again.
    setStatus(Status::None, QString());
  }
  updateActions();
}

void ViewMenu::setWatching(bool on) {
  pendingPicture_.reset();
  if (!on) {
    watcher_->stop();
    setStatus(Status::None, QString());
    updateActions();
    return;
  }
  if (window_.session().picturePath.empty()) {
    const QSignalBlocker blocker(watch_);
    watch_->setChecked(false);
    return;
  }
  watcher_->watch(pathToQt(window_.session().picturePath));
  setStatus(Status::Watching, QStringLiteral("Watching '%1'").arg(watchedName()));
  updateActions();
}

void ViewMenu::pictureSaved(std::shared_ptr<const PictureBitmap> picture) {
  pendingPicture_ = std::move(picture);
  renderSavedPicture();
}

void ViewMenu::renderSavedPicture() {
  if (!pendingPicture_ || !watcher_->watching()) return;
  // Not inside a render, nor under a dialog the user is answering: later.
  QWidget* modal = QApplication::activeModalWidget();
  if (rendering_ || (modal != nullptr && modal != &window_)) {
    QTimer::singleShot(kBusyRetryMilliseconds, this, &ViewMenu::renderSavedPicture);
    return;
  }
  std::shared_ptr<const PictureBitmap> picture = std::move(pendingPicture_);
  pendingPicture_.reset();
  // Unsaved edits are not replaced unasked: saving them writes over the
  // other program's save, cancelling keeps them and leaves that save unread.
  const QString name = watchedName();
  PictureDocument& document = window_.document();
  if (document.isModified()) {
    const bool go = mayDropEdits(&window_, document, QStringLiteral("Taking '%1' as another program saved it").arg(name));
    if (!go || !document.isModified()) {
      if (go) {
        setStatus(Status::Watching, QStringLiteral("Watching '%1'; your edits were saved over it").arg(name));
      } else {
        setStatus(Status::SaveLeftUnread, QStringLiteral("Watching '%1'; its last save was left unread").arg(name));
      }
      return;
    }
  }
  LiveRender* live = liveRenderOf(window_);
  if (live) live->expectSavedPicture();
  showPicture(window_, std::move(picture), window_.session().picturePath);

  if (const QString blocked = blockedReason(); !blocked.isEmpty()) {
    if (live) live->renderSavedPicture(false);
    setStatus(Status::NotRendered, blocked);
    return;
  }
  if (live) {
    // In the background: what plays follows it, and it plays as soon as
    // its first blocks are there when nothing plays.
    live->renderSavedPicture(true);
    return;
  }
  rendering_ = true;
  const bool rendered = renderToOutput(window_);
  rendering_ = false;
  if (rendered) {
    playGeneratedFromStart(window_);
    setStatus(Status::Watching, QStringLiteral("Watching '%1'; rendered at %2")
                                    .arg(name, QTime::currentTime().toString(QStringLiteral("HH:mm:ss"))));
  } else {
    setStatus(Status::RenderFailed, QStringLiteral("Watching '%1'; the last render did not complete").arg(name));
  }
  // A save made during the render follows now.
  if (pendingPicture_) QTimer::singleShot(0, this, &ViewMenu::renderSavedPicture);
}

void installViewMenu(MainWindow& window) { new ViewMenu(window); }

ViewMenu* viewMenuOf(MainWindow& window) {
  return window.findChild<ViewMenu*>(QStringLiteral("viewMenuCommands"), Qt::FindDirectChildrenOnly);
}

}  // namespace vellomar
