// SPDX-License-Identifier: GPL-3.0-or-later
// The window's chooser of existing files (a picture, an input sound, a wave
// to analyse). It lists folders with FolderModel, so that a file whose name
// is not UTF-8 is listed and chosen like any other: its name is shown with
// U+FFFD where its bytes are not UTF-8, and the path handed back keeps
// every byte (as pathToQt holds it).
#pragma once

#include <QDialog>
#include <QString>
#include <QStringList>
#include <string>

class QAction;
class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QModelIndex;
class QPushButton;
class QToolButton;
class QTreeView;

namespace vellomar {

class FolderModel;
struct FileRequest;

class FileChooserDialog : public QDialog {
  Q_OBJECT

 public:
  // Opens in the folder of request.initialPath (with that file selected),
  // else request.initialFolder, else the working folder; the first filter
  // of request.filters is chosen.
  FileChooserDialog(const FileRequest& request, QWidget* owner);

  // The file chosen, as pathToQt holds its name; empty until accepted.
  const QString& chosenPath() const { return chosen_; }

  // Shows `folder` (its bytes); false, saying why in the dialog, when it
  // cannot be read.
  bool openFolder(const std::string& folder);
  const std::string& folder() const;

  FolderModel* model() const { return model_; }
  QTreeView* list() const { return list_; }
  QLineEdit* nameField() const { return name_; }
  QLineEdit* folderField() const { return folderField_; }
  QComboBox* filterList() const { return filters_; }
  QPushButton* openButton() const { return open_; }
  QToolButton* upButton() const { return up_; }
  QAction* hiddenFilesAction() const { return hidden_; }
  QLabel* problemLabel() const { return problem_; }

 public slots:
  // Open: takes the file named (or selected), enters a folder named, or
  // says that nothing of that name is there.
  void accept() override;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void buildPlaces();
  void applyFilter();
  void selectionChanged();
  void activated(const QModelIndex& index);
  void folderTyped();
  void goUp();
  // What the name field's text names: the selected entry when it shows
  // that entry's name, else the text read as a path from the folder shown.
  std::string namedPath() const;

  FolderModel* model_ = nullptr;
  QTreeView* list_ = nullptr;
  QListWidget* places_ = nullptr;
  QLineEdit* folderField_ = nullptr;
  QToolButton* up_ = nullptr;
  QLineEdit* name_ = nullptr;
  QComboBox* filters_ = nullptr;
  QPushButton* open_ = nullptr;
  QAction* hidden_ = nullptr;
  QLabel* problem_ = nullptr;
  QString chosen_;
  std::string selectedPath_;  // the entry selected in the list; empty when none
  QString selectedShown_;     // its name as shown
};

// Patterns of a name filter such as "Bitmap images (*.bmp *.png)": those in
// its last parentheses; "*" when it has none.
QStringList filterPatterns(const QString& filter);

}  // namespace vellomar
