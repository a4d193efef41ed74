// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/main_window/file_chooser_dialog.h"

#include <sys/stat.h>

#include <QAction>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QSplitter>
#include <QStandardPaths>
#include <QStyle>
#include <QToolButton>
#include <QTreeView>
#include <QVBoxLayout>
#include <filesystem>
#include <system_error>

#include "files/messages.h"
#include "ui/common/file_names.h"
#include "ui/main_window/folder_model.h"
#include "ui/main_window/typed_paths.h"
#include "ui/main_window/window_commands.h"

namespace vellomar {

namespace {

namespace fs = std::filesystem;

bool isFolderPath(const std::string& path) {
  struct stat st = {};
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool isExisting(const std::string& path) {
  struct stat st = {};
  return ::stat(path.c_str(), &st) == 0;
}

// The description of a name filter without the patterns Qt reads from its
// last parentheses (the description names its own).
QString filterDescription(const QString& filter) {
  const qsizetype open = filter.lastIndexOf(QLatin1String(" ("));
  return open > 0 && filter.endsWith(QLatin1Char(')')) ? filter.left(open) : filter;
}

// The folder to open: the nearest one that exists on the way up from
// `folder`, else the working folder.
std::string existingFolder(std::string folder) {
  while (!folder.empty() && !isFolderPath(folder)) {
    const std::string up = folderOf(folder);
    if (up == folder) break;
    folder = up;
  }
  if (folder.empty() || !isFolderPath(folder)) {
    std::error_code error;
    folder = fs::current_path(error).string();
  }
  return folder;
}

constexpr int kPathRole = Qt::UserRole + 1;

// A folder's name without "." and ".." steps or a trailing slash.
std::string normalFolder(const std::string& folder) {
  std::string normal = fs::path(folder).lexically_normal().string();
  while (normal.size() > 1 && normal.back() == '/') normal.pop_back();
  return normal;
}

}  // namespace

QStringList filterPatterns(const QString& filter) {
  const qsizetype open = filter.lastIndexOf(QLatin1Char('('));
  const qsizetype close = filter.lastIndexOf(QLatin1Char(')'));
  if (open < 0 || close <= open) return {QStringLiteral("*")};
  return filter.mid(open + 1, close - open - 1).split(QLatin1Char(' '), Qt::SkipEmptyParts);
}

FileChooserDialog::FileChooserDialog(const FileRequest& request, QWidget* owner) : QDialog(owner) {
  setObjectName(QStringLiteral("fileChooser"));
  setWindowTitle(request.title);
  setSizeGripEnabled(true);

  model_ = new FolderModel(this);

  folderField_ = new QLineEdit(this);
  folderField_->setObjectName(QStringLiteral("folderField"));
  up_ = new QToolButton(this);
  up_->setObjectName(QStringLiteral("upButton"));
  up_->setIcon(style()->standardIcon(QStyle::SP_FileDialogToParent));
  up_->setToolTip(QStringLiteral("Parent folder (Backspace)"));
  auto* top = new QHBoxLayout;
  auto* lookIn = new QLabel(QStringLiteral("&Look in:"), this);
  lookIn->setBuddy(folderField_);
  top->addWidget(lookIn);
  top->addWidget(folderField_, 1);
  top->addWidget(up_);

  places_ = new QListWidget(this);
  places_->setObjectName(QStringLiteral("places"));
  list_ = new QTreeView(this);
  list_->setObjectName(QStringLiteral("fileList"));
  list_->setModel(model_);
  list_->setRootIsDecorated(false);
  list_->setItemsExpandable(false);
  list_->setUniformRowHeights(true);
  list_->setAllColumnsShowFocus(true);
  list_->setSelectionMode(QAbstractItemView::SingleSelection);
  list_->setSelectionBehavior(QAbstractItemView::SelectRows);
  list_->header()->setStretchLastSection(false);
  list_->header()->setSectionResizeMode(FolderModel::NameColumn, QHeaderView::Stretch);
  list_->header()->setSectionResizeMode(FolderModel::SizeColumn, QHeaderView::ResizeToContents);
  list_->header()->setSectionResizeMode(FolderModel::ModifiedColumn, QHeaderView::ResizeToContents);
  list_->installEventFilter(this);
  auto* splitter = new QSplitter(this);
  splitter->addWidget(places_);
  splitter->addWidget(list_);
  splitter->setStretchFactor(1, 1);
  problem_ = new QLabel(this);
  problem_->setObjectName(QStringLiteral("problemLabel"));
  problem_->setVisible(false);

  name_ = new QLineEdit(this);
  name_->setObjectName(QStringLiteral("nameField"));
  filters_ = new QComboBox(this);
  filters_->setObjectName(QStringLiteral("filterList"));
  for (const QString& filter : request.filters) filters_->addItem(filterDescription(filter), filter);
  if (filters_->count() == 0) filters_->addItem(QStringLiteral("All files"), QStringLiteral("All files (*)"));
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Open | QDialogButtonBox::Cancel, this);
  open_ = buttons->button(QDialogButtonBox::Open);
  auto* bottom = new QGridLayout;
  auto* nameLabel = new QLabel(QStringLiteral("File &name:"), this);
  nameLabel->setBuddy(name_);
  auto* typeLabel = new QLabel(QStringLiteral("Files of &type:"), this);
  typeLabel->setBuddy(filters_);
  bottom->addWidget(nameLabel, 0, 0);
  bottom->addWidget(name_, 0, 1);
  bottom->addWidget(typeLabel, 1, 0);
  bottom->addWidget(filters_, 1, 1);
  bottom->addWidget(buttons, 0, 2, 2, 1);

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(top);
  layout->addWidget(splitter, 1);
  layout->addWidget(problem_);
  layout->addLayout(bottom);

  // Hidden files (names starting with a point) on request, as other
  // choosers of this desktop do it.
  hidden_ = new QAction(QStringLiteral("Show &hidden files"), this);
  hidden_->setObjectName(QStringLiteral("hiddenFilesAction"));
  hidden_->setCheckable(true);
  hidden_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_H));
  addAction(hidden_);
  list_->setContextMenuPolicy(Qt::ActionsContextMenu);
  list_->addAction(hidden_);

  connect(buttons, &QDialogButtonBox::accepted, this, &FileChooserDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &FileChooserDialog::reject);
  connect(up_, &QToolButton::clicked, this, &FileChooserDialog::goUp);
  connect(folderField_, &QLineEdit::returnPressed, this, &FileChooserDialog::folderTyped);
  connect(filters_, &QComboBox::currentIndexChanged, this, &FileChooserDialog::applyFilter);
  connect(list_, &QTreeView::activated, this, &FileChooserDialog::activated);
  connect(list_->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
          &FileChooserDialog::selectionChanged);
  connect(hidden_, &QAction::toggled, this, [this](bool on) { model_->setShowHidden(on); });
  connect(places_, &QListWidget::itemActivated, this,
          [this](QListWidgetItem* item) { openFolder(pathFromQt(item->data(kPathRole).toString())); });
  connect(places_, &QListWidget::itemClicked, this,
          [this](QListWidgetItem* item) { openFolder(pathFromQt(item->data(kPathRole).toString())); });

  buildPlaces();
  // The places keep their width; the list takes the rest.
  splitter->setSizes({places_->maximumWidth(), fontMetrics().averageCharWidth() * 78});
  applyFilter();
  const std::string initial = pathFromQt(request.initialPath);
  if (!initial.empty()) {
    openFolder(existingFolder(folderOf(resolveTypedPath(initial, std::string()))));
    const std::string name = fs::path(initial).filename().string();
    name_->setText(displayName(name));
    if (const int row = model_->rowOf(name); row >= 0) list_->setCurrentIndex(model_->index(row, 0));
  } else {
    openFolder(existingFolder(pathFromQt(request.initialFolder)));
  }
  name_->setFocus();
  resize(fontMetrics().averageCharWidth() * 100, fontMetrics().height() * 26);
}

void FileChooserDialog::buildPlaces() {
  const auto add = [this](const QString& text, const QString& path, QStyle::StandardPixmap icon) {
    if (path.isEmpty() || !QDir(path).exists()) return;
    auto* item = new QListWidgetItem(style()->standardIcon(icon), text, places_);
    // Folders Qt names are UTF-8.
    item->setData(kPathRole, path);
  };
  add(QStringLiteral("Home"), QDir::homePath(), QStyle::SP_DirHomeIcon);
  for (const auto location : {QStandardPaths::DesktopLocation, QStandardPaths::DocumentsLocation,
                              QStandardPaths::PicturesLocation, QStandardPaths::MusicLocation}) {
    const QString path = QStandardPaths::writableLocation(location);
    if (path != QDir::homePath()) add(QStandardPaths::displayName(location), path, QStyle::SP_DirIcon);
  }
  add(QStringLiteral("Computer"), QStringLiteral("/"), QStyle::SP_ComputerIcon);
  places_->setMaximumWidth(fontMetrics().averageCharWidth() * 22);
}

const std::string& FileChooserDialog::folder() const { return model_->folder(); }

bool FileChooserDialog::openFolder(const std::string& folder) {
  const bool ok = model_->setFolder(normalFolder(folder));
  folderField_->setText(displayName(this->folder()));
  problem_->setText(ok ? QString()
                       : QStringLiteral("The folder cannot be read: %1").arg(model_->error()));
  problem_->setVisible(!ok);
  up_->setEnabled(folderOf(this->folder()) != this->folder());
  selectedPath_.clear();
  selectedShown_.clear();
  return ok;
}

void FileChooserDialog::applyFilter() {
  model_->setNamePatterns(filterPatterns(filters_->currentData().toString()));
  selectedPath_.clear();
  selectedShown_.clear();
}

void FileChooserDialog::selectionChanged() {
  const int row = list_->currentIndex().row();
  if (row < 0) return;
  selectedPath_ = model_->pathOf(row);
  selectedShown_ = model_->shownName(row);
  // A file's name goes into the name field, as Open would take it.
  if (!model_->isFolder(row)) name_->setText(selectedShown_);
}

void FileChooserDialog::activated(const QModelIndex& index) {
  const int row = index.row();
  if (row < 0) return;
  if (model_->isFolder(row)) {
    openFolder(model_->pathOf(row));
    name_->clear();
    return;
  }
  selectedPath_ = model_->pathOf(row);
  selectedShown_ = model_->shownName(row);
  name_->setText(selectedShown_);
  accept();
}

void FileChooserDialog::folderTyped() {
  const std::string typed = resolveTypedPath(pathFromQt(folderField_->text()), folder());
  if (isFolderPath(typed)) {
    openFolder(typed);
  } else {
    showMessage(this, kBoxOk | kBoxIconWarning, windowTitle().toStdString(), "%s\nThe folder does not exist.",
                displayName(typed).toUtf8().constData());
    folderField_->setText(displayName(folder()));
  }
}

void FileChooserDialog::goUp() {
  const std::string current = folder();
  const std::string up = folderOf(current);
  if (up.empty() || up == current) return;
  openFolder(up);
  // The folder just left stays in view, selected.
  const std::string left = fs::path(current).filename().string();
  if (const int row = model_->rowOf(left); row >= 0) list_->setCurrentIndex(model_->index(row, 0));
}

std::string FileChooserDialog::namedPath() const {
  const QString text = name_->text();
  if (!selectedPath_.empty() && text == selectedShown_) return selectedPath_;
  return resolveTypedPath(pathFromQt(text), folder());
}

void FileChooserDialog::accept() {
  if (name_->text().isEmpty()) {
    // Open on a folder of the list enters it.
    const int row = list_->currentIndex().row();
    if (row >= 0 && model_->isFolder(row) && list_->selectionModel()->isSelected(list_->currentIndex())) {
      activated(list_->currentIndex());
    }
    return;
  }
  const std::string path = namedPath();
  if (isFolderPath(path)) {
    openFolder(path);
    name_->clear();
    return;
  }
  if (!isExisting(path)) {
    showMessage(this, kBoxOk | kBoxIconWarning, windowTitle().toStdString(),
                "%s\nFile not found.\nPlease check the file name.", displayName(path).toUtf8().constData());
    name_->setFocus();
    name_->selectAll();
    return;
  }
  chosen_ = pathToQt(path);
  QDialog::accept();
}

bool FileChooserDialog::eventFilter(QObject* watched, QEvent* event) {
  if (watched == list_ && event->type() == QEvent::KeyPress) {
    const auto* key = static_cast<QKeyEvent*>(event);
    if (key->key() == Qt::Key_Backspace && key->modifiers() == Qt::NoModifier) {
      goUp();
      return true;
    }
    // Enter opens the entry in view (the list would also pass the key on
    // to the dialog's Open button).
    if ((key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) && list_->currentIndex().isValid()) {
      activated(list_->currentIndex());
      return true;
    }
  }
  return QDialog::eventFilter(watched, event);
}

}  // namespace vellomar
