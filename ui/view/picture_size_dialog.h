// SPDX-License-Identifier: GPL-3.0-or-later
// The size of a picture made from a wave file: a small dialog with the
// default size filled in, which takes the sizes the picture loader reads
// again and refuses the rest in the words the command line's --size uses.
#pragma once

#include <QDialog>
#include <QString>
#include <cstdint>

class QLabel;
class QLineEdit;
class QPushButton;

namespace vellomar {

class PictureSizeDialog : public QDialog {
  Q_OBJECT

 public:
  // For a picture of the wave `waveName` (as shown), whose default size is
  // defaultWidth x defaultHeight.
  PictureSizeDialog(QWidget* owner, const QString& waveName, std::uint32_t defaultWidth, std::uint32_t defaultHeight);

  QLineEdit* widthField() const { return width_; }
  QLineEdit* heightField() const { return height_; }
  QPushButton* okButton() const { return ok_; }
  QPushButton* defaultButton() const { return default_; }

  // The size accepted (the defaults until then).
  std::uint32_t chosenWidth() const { return chosenWidth_; }
  std::uint32_t chosenHeight() const { return chosenHeight_; }

 public slots:
  // OK: takes the size, or tells why not and stays open.
  void accept() override;

 private:
  QLineEdit* width_ = nullptr;
  QLineEdit* height_ = nullptr;
  QPushButton* ok_ = nullptr;
  QPushButton* default_ = nullptr;
  std::uint32_t defaultWidth_;
  std::uint32_t defaultHeight_;
  std::uint32_t chosenWidth_;
  std::uint32_t chosenHeight_;
};

// Asks for the size; `width` and `height` hold the default on entry and the
// size chosen on return. False when cancelled.
bool askPictureSize(QWidget* owner, const QString& waveName, std::uint32_t& width, std::uint32_t& height);

}  // namespace vellomar
