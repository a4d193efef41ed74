// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/editor/picture_files.h"

#include <QFileInfo>
#include <QWidget>
#include <filesystem>
#include <system_error>

#include "files/messages.h"
#include "files/picture_writer.h"
#include "ui/document/picture_document.h"
#include "ui/editor/sound_edit.h"
#include "ui/main_window/window_commands.h"

namespace vellomar {

namespace {

constexpr std::size_t kPathCapacity = kMaxPathLength + 1;

}  // namespace

bool isPngPath(const std::string& path) {
  return QFileInfo(pathToQt(path)).suffix().compare(QLatin1String("png"), Qt::CaseInsensitive) == 0;
}

bool writeDocument(QWidget* owner, PictureDocument& document, const std::string& path) {
  const std::shared_ptr<const PictureBitmap> picture = document.snapshot();
  if (!picture) return false;
  Refusal refusal;
  // A recording's picture carries the record that renders it back.
  const SoundEdit* edit = soundEditOf(document);
  if (edit ? !savePictureWithRecord(*edit, *picture, path, refusal) : !savePicturePng(*picture, path, refusal)) {
    showRefusal(owner, refusal);
    return false;
  }
  document.markSaved(path);
  return true;
}

bool saveDocument(QWidget* owner, PictureDocument& document) {
  if (!document.filePath().empty() && isPngPath(document.filePath())) {
    return writeDocument(owner, document, document.filePath());
  }
  return saveDocumentAs(owner, document);
}

bool saveDocumentAs(QWidget* owner, PictureDocument& document, const std::string& suggested) {
  if (!document.hasPicture()) return false;
  std::string path = document.filePath().empty() ? suggested : document.filePath();
  if (!isPngPath(path)) path.clear();
  if (!chooseFile(path, kPathCapacity, true, "Save picture as", {"PNG pictures (*.png)", "*.png"}, "png", owner,
                  std::string(), false)) {
    return false;
  }
  std::error_code error;
  if (std::filesystem::exists(std::filesystem::path(path), error) &&
      showMessage(owner, kBoxYesNo | kBoxIconWarning | kBoxDefaultButton2, "File exists",
                  "The file '%s' already exists.\nDo you want to replace it?", path.c_str()) != kButtonYes) {
    return false;
  }
  return writeDocument(owner, document, path);
}

bool mayDropEdits(QWidget* owner, PictureDocument& document, const QString& action) {
  if (!document.isModified()) return true;
  const std::string name = document.filePath().empty()
                               ? std::string("The picture")
                               : "The picture '" + QFileInfo(pathToQt(document.filePath())).fileName().toStdString() + "'";
  const int answer = showMessage(owner, kBoxSaveDiscardCancel | kBoxIconWarning, "Unsaved edits",
                                 "%s has edits that are not saved.\n%s drops them.\n\nSave them first?", name.c_str(),
                                 action.toUtf8().constData());
  if (answer == kButtonYes) return saveDocument(owner, document);
  return answer == kButtonNo;
}

}  // namespace vellomar
