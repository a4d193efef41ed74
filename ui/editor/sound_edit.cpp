// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/editor/sound_edit.h"

#include <QAction>
#include <QFileInfo>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QStatusBar>
#include <QToolBar>
#include <algorithm>
#include <filesystem>

#include "files/edit_setup.h"
#include "files/messages.h"
#include "files/paths.h"
#include "ui/axes/axes.h"
#include "ui/common/app_state.h"
#include "ui/common/file_names.h"
#include "ui/document/picture_document.h"
#include "ui/editor/editor_window.h"
#include "ui/editor/picture_files.h"
#include "ui/editor/sound_edit_live.h"
#include "ui/progress/task_progress.h"
#include "ui/editor/tool_controller.h"
#include "ui/playback/playback.h"
#include "ui/main_window/main_window.h"
#include "ui/main_window/settings_controls.h"
#include "ui/main_window/settings_logic.h"
#include "ui/main_window/window_commands.h"

namespace vellomar {

namespace {

constexpr std::size_t kPathCapacity = kMaxPathLength + 1;

MessageOwner ownerOf(QWidget* widget) { return static_cast<void*>(widget); }

// Whether the picture file at `path` is a saved picture of `sound`'s
// analysis (its record names the same samples and the same analysis).
bool recordMatches(const std::string& path, const SoundForEditing& sound) {
  if (path.empty()) return false;
  EditRecord record;
  std::string reason, note;
  if (readEditRecord(path, record, reason, note) == EditRecordSource::None) return false;
  return record.recordingSha256 == sound.record.recordingSha256 &&
         record.pictureSha256 == sound.record.pictureSha256 && record.width == sound.record.width &&
         record.height == sound.record.height;
}

// The name proposed for the edited sound: the recording's, with "-edited".
std::string suggestedSoundName(const std::string& recording) {
  std::filesystem::path p(recording);
  const bool flac = p.extension() == ".flac" || p.extension() == ".FLAC";
  return (p.parent_path() / (p.stem().string() + "-edited" + (flac ? ".flac" : ".wav"))).string();
}

}  // namespace

SoundEdit::SoundEdit(PictureDocument& document, SoundForEditing sound)
    : QObject(&document), document_(document), sound_(std::move(sound)) {
  setObjectName(QStringLiteral("soundEdit"));
  connect(&document_, &PictureDocument::replaced, this, &SoundEdit::documentReplaced);
  // An undo or a redo of a move step changes the moves in effect.
  connect(&document_.undoStack(), &QUndoStack::indexChanged, this, [this] {
    std::vector<SpectralMove> now = activeMoves();
    const auto same = [](const SpectralMove& a, const SpectralMove& b) {
      return a.channel == b.channel && a.frameFirst == b.frameFirst && a.frameEnd == b.frameEnd &&
             a.binFirst == b.binFirst && a.binEnd == b.binEnd && a.frameOffset == b.frameOffset &&
             a.binOffset == b.binOffset;
    };
    if (std::equal(now.begin(), now.end(), lastMoves_.begin(), lastMoves_.end(), same)) return;
    lastMoves_ = std::move(now);
    emit movesChanged();
  });
}

SoundForEditing SoundEdit::sound() const {
  SoundForEditing sound = sound_;
  sound.moves = activeMoves();
  return sound;
}

std::vector<SpectralMove> SoundEdit::activeMoves() const {
  std::vector<SpectralMove> moves;
  const QUndoStack& stack = document_.undoStack();
  for (int i = 0; i < stack.index(); ++i) {
    const auto found = moves_.find(stack.command(i));
    if (found != moves_.end()) moves.push_back(found->second);
  }
  return moves;
}

void SoundEdit::selectionMoved(const PixelRect& from, std::int64_t dx, std::int64_t dy) {
  QUndoStack& stack = document_.undoStack();
  // Steps no longer in the history go (their addresses may be taken again).
  for (auto it = moves_.begin(); it != moves_.end();) {
    bool kept = false;
    for (int i = 0; i < stack.count() && !kept; ++i) kept = stack.command(i) == it->first;
    it = kept ? std::next(it) : moves_.erase(it);
  }
  if (stack.index() == 0 || from.empty()) return;
  SpectralEditJob job = soundEditJob(sound_, *sound_.original);
  const auto clip = [](std::int64_t v, std::uint32_t high) {
    return static_cast<std::uint32_t>(std::clamp<std::int64_t>(v, 0, high));
  };
  const SpectralMove move = moveForPicture(job, -1, clip(from.x0, job.width), clip(from.y0, job.height),
                                           clip(from.x1, job.width), clip(from.y1, job.height),
                                           static_cast<std::int32_t>(dx), static_cast<std::int32_t>(dy));
  if (move.frameEnd <= move.frameFirst || move.binEnd <= move.binFirst) return;
  moves_[stack.command(stack.index() - 1)] = move;
  lastMoves_ = activeMoves();
  emit movesChanged();
}

QString SoundEdit::recordingName() const { return displayName(QFileInfo(pathToQt(recordingPath())).fileName()); }

void SoundEdit::documentReplaced() {
  if (recordMatches(document_.filePath(), sound_)) return;
  // Not found as the document's any more, at once; gone once back in the loop.
  setParent(nullptr);
  deleteLater();
}

SoundEditLive* SoundEdit::live() {
  if (!live_) {
    live_ = new SoundEditLive(document_, sound(), this);
    if (!live_->usable()) {
      delete live_;
      live_ = nullptr;
    } else {
      connect(this, &SoundEdit::movesChanged, live_, [this] { live_->setMoves(activeMoves()); });
    }
  }
  return live_;
}

SoundEdit* soundEditOf(const PictureDocument& document) {
  return document.findChild<SoundEdit*>(QStringLiteral("soundEdit"), Qt::FindDirectChildrenOnly);
}

RenderSettings soundEditGrid() {
  RenderSettings grid;
  grid.inputSource = InputSource::WaveFile;
  grid.frequencyScale = renderSettings.frequencyScale;
  grid.bandLowHz = renderSettings.bandLowHz;
  grid.bandHighHz = renderSettings.bandHighHz;
  grid.blockLength = 0;  // editBlockLength at the recording's rate
  return grid;
}

EditorAxes editorAxes(const PictureDocument& document) {
  EditorAxes axes;
  if (const SoundEdit* edit = soundEditOf(document)) {
    const EditRecord& record = edit->record();
    axes.settings = editRecordSettings(record);
    axes.durationSeconds = static_cast<float>(static_cast<double>(record.sampleCount) / record.sampleRate);
    return axes;
  }
  axes.settings = renderSettings;
  axes.durationSeconds = axisDuration(renderSettings, inputWaveDuration);
  return axes;
}

bool editSoundFile(MainWindow& window) {
  if (!mayDropEdits(&window, window.document(), QStringLiteral("Editing a sound"))) return false;
  std::string path;
  if (!chooseFile(path, kPathCapacity, false, "Select a sound to edit", kSoundFilters, nullptr, &window,
                  window.session().lastChosenFolder)) {
    return false;
  }
  return editSound(window, path);
}

bool editSound(MainWindow& window, const std::string& path) {
  SoundForEditing sound;
  Refusal refusal;
  const RenderSettings grid = soundEditGrid();
  const QString label = QStringLiteral("Analysing '%1' for editing...").arg(displayName(QFileInfo(pathToQt(path)).fileName()));
  const ResultCode result = runWithProgress(&window, label, [&](const EditControl& control) {
    return openSoundForEditing(path, grid, 0, 0, control, sound, refusal);
  });
  if (result == kResultAborted) return false;
  if (result != kResultOk) {
    showRefusal(ownerOf(&window), refusal);
    return false;
  }
  showPicture(window, sound.original, std::string());
  // The picture spans the recording: so do the time axes, and a render of
  // the picture through noise.
  if (renderSettings.inputSource != InputSource::WaveFile) {
    const float seconds = durationOfSamples(static_cast<std::uint32_t>(sound.record.sampleCount), sound.record.sampleRate);
    renderSettings.durationSeconds = std::clamp(seconds, kMinDurationSeconds, kMaxDurationSeconds);
    window.controls().durationEdit->setText(QString::fromStdString(formatDuration(renderSettings.durationSeconds)));
    refreshAfterChange(window);
  }
  new SoundEdit(window.document(), std::move(sound));
  return openEditor(window) != nullptr;
}

bool saveEditedSound(QWidget* owner, PictureDocument& document) {
  const SoundEdit* edit = soundEditOf(document);
  if (!edit) return false;
  std::string path = suggestedSoundName(edit->recordingPath());
  if (!chooseFile(path, kPathCapacity, true, "Save sound as",
                  {"Sound files (*.wav;*.flac)", "*.wav;*.flac", "Microsoft Wave (*.wav)", "*.wav", "FLAC (*.flac)",
                   "*.flac"},
                  "wav", owner)) {
    return false;
  }
  return saveEditedSoundTo(owner, document, path);
}

bool saveEditedSoundTo(QWidget* owner, PictureDocument& document, const std::string& path) {
  const SoundEdit* edit = soundEditOf(document);
  if (!edit || !document.hasPicture()) return false;
  bool unknown = false;
  outputKindFromPath(path, unknown);
  if (unknown) {
    showRefusal(ownerOf(owner), errorRefusal("'%s' names no sound format written here: name it .wav or .flac.",
                                             path.c_str()));
    return false;
  }
  if (!document.filePath().empty() && sameFile(path, document.filePath())) {
    showRefusal(ownerOf(owner), errorRefusal("'%s' is the picture being edited; choose another name for the sound.",
                                             path.c_str()));
    return false;
  }
  if (sameFile(path, edit->recordingPath()) &&
      showMessage(ownerOf(owner), kBoxYesNo | kBoxIconWarning | kBoxDefaultButton2, "Replace the recording",
                  "'%s' is the recording being edited.\nReplace it with the edited sound? Its own samples are then "
                  "gone, except where the picture was not painted.",
                  path.c_str()) != kButtonYes) {
    return false;
  }
  const std::shared_ptr<const PictureBitmap> picture = document.snapshot();
  const SoundForEditing sound = edit->sound();
  // The Options' format for the name, at the recording's own rate.
  OutputFormat format = formatForPath(fileOptions.output, path);
  format.rate = 0;
  Refusal refusal;
  const QString label = QStringLiteral("Saving '%1'...").arg(displayName(QFileInfo(pathToQt(path)).fileName()));
  const ResultCode result = runWithProgress(owner, label, [&](const EditControl& control) {
    return writeSoundEdit(sound, *picture, path, format, control, refusal);
  });
  if (result == kResultAborted) return false;
  if (result != kResultOk) {
    showRefusal(ownerOf(owner), refusal);
    return false;
  }
  return true;
}

bool savePictureWithRecord(const SoundEdit& edit, const PictureBitmap& picture, const std::string& path,
                           Refusal& refusal) {
  return savePictureForEditing(picture, path, edit.sound().record, refusal);
}

namespace {

// Play > "Play sound": the edited recording through the window's player.
void installPlaySound(EditorWindow& editor) {
  QMenu* play = nullptr;
  for (QAction* a : editor.menuBar()->actions()) {
    if (a->menu() && a->text() == QStringLiteral("&Play")) play = a->menu();
  }
  auto* window = qobject_cast<MainWindow*>(editor.parent());
  if (!play || !window) return;
  auto* action = new QAction(QStringLiteral("Play so&und"), &editor);
  action->setObjectName(QStringLiteral("playSoundAction"));
  action->setShortcut(QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_P));
  action->setIconText(QStringLiteral("Play sound"));
  play->insertAction(play->actions().value(0), action);
  // Beside the tool bar's Play, which plays what Generate made.
  if (auto* bar = editor.findChild<QToolBar*>(QStringLiteral("toolBar"))) {
    bar->insertAction(editor.action("playSelectionAction"), action);
  }
  QObject::connect(play, &QMenu::aboutToShow, action, [&editor, action] {
    action->setVisible(soundEditOf(editor.document()) != nullptr);
  });
  action->setVisible(soundEditOf(editor.document()) != nullptr);
  QObject::connect(&editor.document(), &PictureDocument::replaced, action, [&editor, action] {
    action->setVisible(soundEditOf(editor.document()) != nullptr);
  }, Qt::QueuedConnection);
  QObject::connect(action, &QAction::triggered, &editor, [&editor, window] {
    SoundEdit* edit = soundEditOf(editor.document());
    SoundEditLive* live = edit ? edit->live() : nullptr;
    if (!live) {
      editor.statusBar()->showMessage(QStringLiteral("There is no recording to play"), 6000);
      return;
    }
    Refusal why;
    if (!playbackOf(*window).play(live->source(), 0, &why)) showRefusal(ownerOf(&editor), why);
  });
}

// The editor's title names the recording while one is attached:
// "take.wav: <the picture's title>".
void installTitle(EditorWindow& editor) {
  const auto mark = [&editor] {
    const QString title = editor.windowTitle();
    const QString added = editor.property("soundTitlePrefix").toString();
    QString base = !added.isEmpty() && title.startsWith(added) ? title.mid(added.size()) : title;
    const SoundEdit* edit = soundEditOf(editor.document());
    const QString prefix = edit ? edit->recordingName() + QStringLiteral(": ") : QString();
    editor.setProperty("soundTitlePrefix", prefix);
    if (prefix + base != title) editor.setWindowTitle(prefix + base);
  };
  QObject::connect(&editor, &QWidget::windowTitleChanged, &editor, mark, Qt::QueuedConnection);
  QObject::connect(&editor.document(), &PictureDocument::replaced, &editor, mark, Qt::QueuedConnection);
  mark();
}

}  // namespace

void installSoundEditActions(EditorWindow& editor) {
  QMenu* file = editor.menuBar()->actions().value(0) ? editor.menuBar()->actions().value(0)->menu() : nullptr;
  if (!file) return;
  auto* save = new QAction(QStringLiteral("Save so&und..."), &editor);
  save->setObjectName(QStringLiteral("saveSoundAction"));
  save->setShortcut(QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_S));
  file->insertAction(editor.action("revertAction"), save);
  const auto update = [&editor, save] {
    const SoundEdit* edit = soundEditOf(editor.document());
    save->setVisible(edit != nullptr);
    save->setEnabled(edit != nullptr);
    save->setStatusTip(edit ? QStringLiteral("Render the picture back into '%1', unchanged where it was not painted")
                                  .arg(edit->recordingName())
                            : QString());
  };
  update();
  // Queued: a recording is attached just after its picture replaces the old.
  QObject::connect(&editor.document(), &PictureDocument::replaced, save, update, Qt::QueuedConnection);
  QObject::connect(file, &QMenu::aboutToShow, save, update);
  QObject::connect(save, &QAction::triggered, &editor, [&editor] {
    if (saveEditedSound(&editor, editor.document())) editor.statusBar()->showMessage(QStringLiteral("Sound saved"), 6000);
  });
  installPlaySound(editor);
  installTitle(editor);
  // A drag of the selection on a recording's picture moves its spectrum too.
  QObject::connect(&editor.tools(), &ToolController::selectionMoved, &editor,
                   [&editor](const PixelRect& from, std::int64_t dx, std::int64_t dy) {
                     if (SoundEdit* edit = soundEditOf(editor.document())) edit->selectionMoved(from, dx, dy);
                   });
}

}  // namespace vellomar
