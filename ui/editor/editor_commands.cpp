// SPDX-License-Identifier: GPL-3.0-or-later
// The editor window's commands: files, selection dialogs, playing the
// selection, the spectrogram over the picture, and what follows a new
// picture.
#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QEventLoop>
#include <QFileInfo>
#include <QLineEdit>
#include <QMessageBox>
#include <QStatusBar>
#include <QUndoView>
#include <thread>

#include "files/picture.h"
#include "files/messages.h"
#include "ui/axes/axes.h"
#include "ui/common/app_state.h"
#include "ui/common/input_decode.h"
#include "ui/document/picture_document.h"
#include "ui/editor/audition.h"
#include "ui/editor/editor_canvas.h"
#include "ui/editor/editor_dialogs.h"
#include "ui/editor/editor_memory.h"
#include "ui/editor/editor_rulers.h"
#include "ui/editor/editor_window.h"
#include "ui/editor/picture_files.h"
#include "ui/editor/tool_controller.h"
#include "ui/editor/underlay.h"
#include "ui/main_window/main_window.h"
#include "ui/main_window/settings_controls.h"
#include "ui/main_window/settings_logic.h"
#include "ui/main_window/window_commands.h"
#include "ui/playback/playback.h"

namespace vellomar {

namespace {

AuditionPlayer gAuditionPlayer;

QString fileNameOf(const std::string& path) { return QFileInfo(pathToQt(path)).fileName(); }

}  // namespace

void setAuditionPlayer(AuditionPlayer player) { gAuditionPlayer = std::move(player); }

void EditorWindow::pictureReplaced() {
  tools_->setSelection({});
  QString reason;
  bool writable = false;
  if (document_.hasPicture()) {
    writable = editable(document_.width(), document_.height(), &reason) && document_.makeEditable();
    if (!writable && reason.isEmpty()) reason = QStringLiteral("There is not enough memory to edit the picture; it is shown read-only.");
  }
  tools_->setReadOnly(!writable);
  readOnlyReason_ = reason;
  if (!reason.isEmpty()) {
    statusBar()->showMessage(reason);
    if (isVisible()) showMessage(this, kBoxOk | kBoxIconInformation, "Read-only picture", "%s", reason.toUtf8().constData());
  }
  if (canvas_->underlayShown()) refreshSpectrogram();
  updateActions();
  updateTitle();
  timeRuler_->update();
  frequencyRuler_->update();
}

void EditorWindow::updateTitle() {
  QString name = document_.filePath().empty() ? QStringLiteral("Untitled") : fileNameOf(document_.filePath());
  if (document_.hasPicture()) name += QStringLiteral(" (%1 x %2)").arg(document_.width()).arg(document_.height());
  if (readOnly() && document_.hasPicture()) name += QStringLiteral(" [read-only]");
  // "[*]" shows as "*" while there are unsaved edits.
  setWindowTitle(QStringLiteral("%1[*] - Vellomar editor").arg(name));
  setWindowModified(document_.isModified());
}

void EditorWindow::updateActions() {
  const bool picture = document_.hasPicture();
  const bool writable = picture && !readOnly();
  const bool selection = !tools_->selection().empty();
  const char* const edits[] = {"pasteAction", "flipTimeAction", "flipFrequencyAction", "adjustAction"};
  for (const char* name : edits) action(name)->setEnabled(writable);
  action("cutAction")->setEnabled(writable && selection);
  action("deleteAction")->setEnabled(writable && selection);
  action("scaleAction")->setEnabled(writable && selection);
  action("copyAction")->setEnabled(picture && selection && !readOnly());
  action("playSelectionAction")->setEnabled(picture && selection);
  action("saveAction")->setEnabled(picture);
  action("saveAsAction")->setEnabled(picture);
  action("revertAction")->setEnabled(!document_.filePath().empty() && document_.isModified());
  action("selectAllAction")->setEnabled(picture);
  for (QAction* a : toolGroup_->actions()) {
    a->setEnabled(writable || static_cast<Tool>(a->data().toInt()) == Tool::Select);
  }
  // A read-only picture can still be looked at and selected (and played).
  if (picture && !writable && tools_->settings().tool != Tool::Select) {
    toolAction(Tool::Select)->setChecked(true);
    tools_->settings().tool = Tool::Select;
    showOptionsFor(Tool::Select);
  }
}

bool EditorWindow::newPicture() {
  const double granularity = timeGranularity(renderSettings.blockLength, renderSettings.subBlocksPerBlock,
                                             renderSettings.sampleRate);
  NewPictureDialog dialog(granularity, this);
  if (document_.hasPicture()) {
    dialog.widthField()->setValue(static_cast<int>(document_.width()));
    dialog.heightField()->setValue(static_cast<int>(document_.height()));
    dialog.columnsField()->setValue(static_cast<int>(document_.width()));
  }
  if (dialog.exec() != QDialog::Accepted) return false;
  if (!mayDropEdits(this, document_, QStringLiteral("Making a new picture"))) return false;
  const NewPictureRequest request = dialog.request();
  std::shared_ptr<PictureBitmap> blank =
      blankPicture(static_cast<std::uint32_t>(request.width), static_cast<std::uint32_t>(request.height));
  if (!blank) {
    showErrorBox(this, "Not enough memory for a picture of %llu x %llu pixels.",
                 static_cast<unsigned long long>(request.width), static_cast<unsigned long long>(request.height));
    return false;
  }
  if (request.seconds) {
    // Columns x seconds: the sound lasts that long.
    renderSettings.durationSeconds = static_cast<float>(*request.seconds);
    window_.controls().durationEdit->setText(QString::fromStdString(formatDuration(renderSettings.durationSeconds)));
  }
  showPicture(window_, std::move(blank), std::string());
  return true;
}

void EditorWindow::save() { saveDocument(this, document_); }

void EditorWindow::saveAs() { saveDocumentAs(this, document_); }

void EditorWindow::revert() {
  const std::string path = document_.filePath();
  if (path.empty() || !document_.isModified()) return;
  if (showMessage(this, kBoxYesNo | kBoxIconWarning | kBoxDefaultButton2, "Revert",
                  "Go back to '%s' as it was last saved?\nThe edits since are lost.",
                  fileNameOf(path).toUtf8().constData()) != kButtonYes) {
    return;
  }
  std::string reason;
  std::shared_ptr<const PictureBitmap> bitmap = loadPicture(path, &reason);
  if (!bitmap) {
    showRefusal(this, pictureRefusal(path, reason));
    return;
  }
  showPicture(window_, std::move(bitmap), path);
}

void EditorWindow::paste() {
  // Without a selection the picture goes to the top-left corner in view.
  const QPointF corner = canvas_->toPicture(QPointF(0, 0));
  const auto x = static_cast<std::int64_t>(std::max(0.0, std::floor(corner.x())));
  const auto y = static_cast<std::int64_t>(std::max(0.0, std::floor(corner.y())));
  tools_->paste(x, y);
}

void EditorWindow::scaleSelection() {
  const PixelRect s = tools_->selection();
  if (s.empty()) return;
  const auto size = askSelectionSize(this, s.width(), s.height());
  if (size) tools_->scaleSelection(size->first, size->second);
}

void EditorWindow::adjustBrightnessContrast() {
  AdjustDialog dialog(*tools_, this);
  dialog.exec();
}

QString EditorWindow::playSelection() {
  const std::shared_ptr<const PictureBitmap> picture = document_.snapshot();
  if (!picture) return QString();
  AuditionPlan plan;
  QString reason;
  if (!planAudition(*picture, tools_->selection(), renderSettings, axisDuration(renderSettings, inputWaveDuration), plan,
                    reason)) {
    statusBar()->showMessage(reason, 8000);
    return QString();
  }
  if (!auditionFolder_) auditionFolder_ = std::make_unique<QTemporaryDir>();
  if (!auditionFolder_->isValid()) {
    statusBar()->showMessage(QStringLiteral("No temporary folder to render the selection in"), 8000);
    return QString();
  }
  AudioInputRules rules = fileOptions.input;
  rules.anyAudioHint = "turn on \"Read any audio file\" in Options";
  rules.keep = &windowInputs();
  if (plan.settings.inputSource == InputSource::WaveFile) {
    AudioInputRules atRate = rules;
    atRate.rate = plan.settings.sampleRate;
    Refusal refusal;
    switch (decodeInputFirst(this, plan.settings.inputPath, atRate, refusal)) {
      case InputReady::Ready:
        break;
      case InputReady::Refused:
        statusBar()->showMessage(QString::fromStdString(refusal.text), 8000);
        return QString();
      case InputReady::Cancelled:
        statusBar()->clearMessage();
        return QString();
    }
  }
  // Rendered on a thread of its own, the window still drawn meanwhile;
  // the noise starts where the next render's would, and moves nothing on.
  statusBar()->showMessage(QStringLiteral("Rendering the selection..."));
  action("playSelectionAction")->setEnabled(false);
  QApplication::setOverrideCursor(Qt::BusyCursor);
  QString path;
  QEventLoop loop;
  const QString folder = auditionFolder_->path();
  const std::int32_t seed = randomSeed;
  std::thread worker([&plan, &path, &reason, &loop, &rules, folder, seed] {
    path = renderAudition(plan, folder, seed, rules, reason);
    QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
  });
  loop.exec(QEventLoop::ExcludeUserInputEvents);
  worker.join();
  QApplication::restoreOverrideCursor();
  updateActions();
  if (path.isEmpty()) {
    statusBar()->showMessage(reason, 8000);
    return QString();
  }
  statusBar()->showMessage(QStringLiteral("Playing %1 s from %2 s, %3 ... %4 Hz")
                               .arg(plan.seconds, 0, 'f', 2)
                               .arg(plan.startSeconds, 0, 'f', 2)
                               .arg(plan.settings.bandLowHz, 0, 'f', 1)
                               .arg(plan.settings.bandHighHz, 0, 'f', 1),
                           8000);
  if (gAuditionPlayer) {
    gAuditionPlayer(path);
  } else {
    if (!player_) player_ = new Playback(this);
    static_cast<Playback*>(player_)->play(path);
  }
  return path;
}

bool EditorWindow::showSpectrogram(bool shown) {
  if (!shown) {
    canvas_->setUnderlayShown(false);
    return true;
  }
  refreshSpectrogram();
  const bool ok = !canvas_->underlay().isNull();
  canvas_->setUnderlayShown(ok);
  // Nothing to show: the menu's and the toolbar's check marks go again.
  if (!ok) action("spectrogramAction")->setChecked(false);
  return ok;
}

void EditorWindow::refreshSpectrogram() {
  canvas_->setUnderlay(QImage());
  if (!document_.hasPicture()) return;
  const auto usable = [](int source) {
    const std::string& path = source == 1 ? renderSettings.outputPath : renderSettings.inputPath;
    return !path.empty() && QFileInfo::exists(pathToQt(path));
  };
  // The sound chosen, or the other one when only that one exists.
  if (!usable(spectrogramSource_->currentIndex()) && usable(1 - spectrogramSource_->currentIndex())) {
    const QSignalBlocker blocker(spectrogramSource_);
    spectrogramSource_->setCurrentIndex(1 - spectrogramSource_->currentIndex());
  }
  const bool generated = spectrogramSource_->currentIndex() == 1;
  if (!usable(spectrogramSource_->currentIndex())) {
    statusBar()->showMessage(QStringLiteral("There is no sound to show yet: choose an input wave file, or generate the "
                                            "sound (Play > Generate sound)"),
                             8000);
    return;
  }
  const std::string& path = generated ? renderSettings.outputPath : renderSettings.inputPath;
  QString reason;
  const QImage image = analyseUnderlay(this, path, renderSettings, document_.width(), document_.height(), reason);
  if (image.isNull()) {
    if (!reason.isEmpty()) statusBar()->showMessage(reason, 8000);
    return;
  }
  canvas_->setUnderlay(image);
  canvas_->setUnderlayOpacity(spectrogramOpacity_->value() / 100.0);
}

void EditorWindow::discardEdits() {
  QUndoStack& stack = document_.undoStack();
  if (stack.cleanIndex() >= 0) {
    stack.setIndex(stack.cleanIndex());
    return;
  }
  // The saved state is no longer in the history: read the file again.
  const std::string path = document_.filePath();
  std::shared_ptr<const PictureBitmap> bitmap = path.empty() ? nullptr : loadPicture(path);
  if (bitmap) {
    showPicture(window_, std::move(bitmap), path);
  } else {
    stack.setIndex(0);
  }
}

void EditorWindow::closeEvent(QCloseEvent* event) {
  tools_->cancel();
  if (document_.isModified()) {
    const int answer = showMessage(this, kBoxSaveDiscardCancel | kBoxIconWarning, "Unsaved edits",
                                   "The picture has edits that are not saved.\nClosing the editor without saving "
                                   "them takes the picture back to where it was saved.\n\nSave them first?");
    if (answer == kButtonCancel || (answer == kButtonYes && !saveDocument(this, document_))) {
      event->ignore();
      return;
    }
    if (answer == kButtonNo) discardEdits();
  }
  canvas_->setUnderlayShown(false);
  QMainWindow::closeEvent(event);
}

EditorWindow* openEditor(MainWindow& window) {
  EditorWindow* editor = editorOf(window);
  if (!window.document().hasPicture()) {
    if (!editor) editor = new EditorWindow(window);
    if (!editor->newPicture()) return nullptr;
  }
  if (!editor) editor = new EditorWindow(window);
  editor->show();
  editor->raise();
  editor->activateWindow();
  return editor;
}

}  // namespace vellomar
