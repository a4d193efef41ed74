// SPDX-License-Identifier: GPL-3.0-or-later
// One folder's entries for the file chooser, read by their bytes.
//
// Qt's own folder listing (QDir, QFileSystemModel, and so QFileDialog)
// leaves out every name that is not UTF-8, so a Latin-1 "caf\xe9.png" from
// an old archive could not be chosen. This model reads the folder with
// readdir and keeps each name's bytes; it shows the name with U+FFFD for
// the bytes that are not UTF-8 and hands back the bytes themselves.
#pragma once

#include <QAbstractTableModel>
#include <QByteArray>
#include <QDateTime>
#include <QRegularExpression>
#include <QString>
#include <QStringList>
#include <string>
#include <vector>

namespace vellomar {

class FolderModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  enum Column { NameColumn, SizeColumn, ModifiedColumn, ColumnCount };

  explicit FolderModel(QObject* parent = nullptr);

  // Lists `folder` (its bytes) anew; false, with error() saying why, when it
  // cannot be read (the list is then empty).
  bool setFolder(const std::string& folder);
  // Lists the same folder again.
  void refresh();
  const std::string& folder() const { return folder_; }
  const QString& error() const { return error_; }

  // Wildcard patterns the files must match (case does not matter), such as
  // "*.png"; "*" or none lists every file. Folders are always listed.
  void setNamePatterns(const QStringList& patterns);
  // Names starting with a point are left out unless shown.
  void setShowHidden(bool show);
  bool showHidden() const { return showHidden_; }

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

  // Entry `row`: its name as shown, its path's bytes, whether it is a
  // folder (or a link to one).
  QString shownName(int row) const;
  std::string pathOf(int row) const;
  bool isFolder(int row) const;
  // The row of the entry whose name's bytes are `name`, or -1.
  int rowOf(const std::string& name) const;

 private:
  struct Entry {
    std::string name;  // the bytes
    QString shown;
    bool folder = false;
    qint64 size = 0;
    QDateTime modified;
  };
  void list();
  bool listed(const Entry& entry) const;

  std::string folder_;
  QString error_;
  std::vector<Entry> all_;      // every entry read, sorted
  std::vector<Entry> entries_;  // those listed
  std::vector<QRegularExpression> patterns_;
  bool showHidden_ = false;
};

}  // namespace vellomar
