// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/main_window/folder_model.h"

#include <dirent.h>
#include <sys/stat.h>

#include <QApplication>
#include <QCollator>
#include <QLocale>
#include <QStyle>
#include <algorithm>
#include <cerrno>
#include <cstring>

#include "ui/common/file_names.h"

namespace vellomar {

namespace {

std::string joined(const std::string& folder, const std::string& name) {
  if (folder.empty() || folder.back() == '/') return folder + name;
  return folder + "/" + name;
}

}  // namespace

FolderModel::FolderModel(QObject* parent) : QAbstractTableModel(parent) {}

bool FolderModel::setFolder(const std::string& folder) {
  folder_ = folder;
  beginResetModel();
  all_.clear();
  error_.clear();
  DIR* dir = ::opendir(folder.c_str());
  if (dir == nullptr) {
    error_ = QString::fromLocal8Bit(std::strerror(errno));
  } else {
    while (const dirent* item = ::readdir(dir)) {
      const std::string name = item->d_name;
      if (name == "." || name == "..") continue;
      Entry entry;
      entry.name = name;
      entry.shown = displayName(name);
      struct stat st = {};
      // A link counts as what it points to; a broken one as a file.
      if (::stat(joined(folder, name).c_str(), &st) == 0) {
        entry.folder = S_ISDIR(st.st_mode);
        entry.size = static_cast<qint64>(st.st_size);
        entry.modified = QDateTime::fromSecsSinceEpoch(static_cast<qint64>(st.st_mtim.tv_sec));
      }
      all_.push_back(std::move(entry));
    }
    ::closedir(dir);
    // Folders first, then by name as people read numbers and letters.
    QCollator collator;
    collator.setNumericMode(true);
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    std::sort(all_.begin(), all_.end(), [&collator](const Entry& a, const Entry& b) {
      if (a.folder != b.folder) return a.folder;
      const int order = collator.compare(a.shown, b.shown);
      return order != 0 ? order < 0 : a.name < b.name;
    });
  }
  list();
  endResetModel();
  return error_.isEmpty();
}

void FolderModel::refresh() { setFolder(folder_); }

void FolderModel::setNamePatterns(const QStringList& patterns) {
  beginResetModel();
  patterns_.clear();
  for (const QString& pattern : patterns) {
    if (pattern == QLatin1String("*")) {
      patterns_.clear();
      break;
    }
    patterns_.emplace_back(QRegularExpression::wildcardToRegularExpression(pattern),
                           QRegularExpression::CaseInsensitiveOption);
  }
  list();
  endResetModel();
}

void FolderModel::setShowHidden(bool show) {
  beginResetModel();
  showHidden_ = show;
  list();
  endResetModel();
}

bool FolderModel::listed(const Entry& entry) const {
  if (!showHidden_ && entry.name.front() == '.') return false;
  if (entry.folder || patterns_.empty()) return true;
  return std::any_of(patterns_.begin(), patterns_.end(),
                     [&entry](const QRegularExpression& p) { return p.match(entry.shown).hasMatch(); });
}

void FolderModel::list() {
  entries_.clear();
  for (const Entry& entry : all_) {
    if (listed(entry)) entries_.push_back(entry);
  }
}

int FolderModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(entries_.size());
}

int FolderModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : ColumnCount; }

QVariant FolderModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= rowCount()) return QVariant();
  const Entry& entry = entries_[static_cast<std::size_t>(index.row())];
  if (role == Qt::DisplayRole) {
    switch (index.column()) {
      case NameColumn:
        return entry.shown;
      case SizeColumn:
        return entry.folder ? QString() : QLocale().formattedDataSize(entry.size);
      case ModifiedColumn:
        return entry.modified.isValid() ? QLocale().toString(entry.modified, QLocale::ShortFormat) : QString();
      default:
        return QVariant();
    }
  }
  if (role == Qt::DecorationRole && index.column() == NameColumn) {
    return QApplication::style()->standardIcon(entry.folder ? QStyle::SP_DirIcon : QStyle::SP_FileIcon);
  }
  if (role == Qt::TextAlignmentRole && index.column() == SizeColumn) {
    return QVariant::fromValue(Qt::AlignRight | Qt::AlignVCenter);
  }
  return QVariant();
}

QVariant FolderModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return QVariant();
  switch (section) {
    case NameColumn:
      return QStringLiteral("Name");
    case SizeColumn:
      return QStringLiteral("Size");
    case ModifiedColumn:
      return QStringLiteral("Date Modified");
    default:
      return QVariant();
  }
}

QString FolderModel::shownName(int row) const {
  return row >= 0 && row < rowCount() ? entries_[static_cast<std::size_t>(row)].shown : QString();
}

std::string FolderModel::pathOf(int row) const {
  return row >= 0 && row < rowCount() ? joined(folder_, entries_[static_cast<std::size_t>(row)].name) : std::string();
}

bool FolderModel::isFolder(int row) const {
  return row >= 0 && row < rowCount() && entries_[static_cast<std::size_t>(row)].folder;
}

int FolderModel::rowOf(const std::string& name) const {
  for (std::size_t i = 0; i < entries_.size(); ++i) {
    if (entries_[i].name == name) return static_cast<int>(i);
  }
  return -1;
}

}  // namespace vellomar
