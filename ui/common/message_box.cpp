// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/common/message_box.h"

#include <QKeyEvent>
#include <QMessageBox>
#include <QWidget>

namespace vellomar {
namespace {

// A question has to be answered: Esc does nothing on a Yes/No box (Qt
// would otherwise take it as No).
class MessageBox : public QMessageBox {
 public:
  MessageBox(QWidget* owner, bool question) : QMessageBox(owner), question_(question) {}

 protected:
  void keyPressEvent(QKeyEvent* event) override {
    if (question_ && event->matches(QKeySequence::Cancel)) {
      event->accept();
      return;
    }
    QMessageBox::keyPressEvent(event);
  }

 private:
  bool question_;
};

}  // namespace

int presentMessageBox(MessageOwner owner, unsigned boxType, const std::string& caption, const std::string& text) {
  const bool unsaved = (boxType & 0xFu) == kBoxSaveDiscardCancel;
  const bool question = (boxType & 0xFu) == kBoxYesNo;
  MessageBox box(static_cast<QWidget*>(owner), question);
  box.setWindowTitle(QString::fromStdString(caption));
  box.setText(QString::fromStdString(text));
  box.setTextFormat(Qt::PlainText);
  switch (boxType & 0xF0u) {
    case kBoxIconError:
      box.setIcon(QMessageBox::Critical);
      break;
    case kBoxIconWarning:
      box.setIcon(QMessageBox::Warning);
      break;
    case kBoxIconInformation:
      box.setIcon(QMessageBox::Information);
      break;
    default:
      box.setIcon(QMessageBox::NoIcon);
      break;
  }
  if (unsaved) {
    // Esc and the window's close button cancel.
    box.setStandardButtons(QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel);
    box.setDefaultButton(QMessageBox::Save);
    box.setEscapeButton(QMessageBox::Cancel);
    const int answer = box.exec();
    if (answer == QMessageBox::Save) return kButtonYes;
    return answer == QMessageBox::Discard ? kButtonNo : kButtonCancel;
  }
  if (question) {
    box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
    box.setDefaultButton((boxType & kBoxDefaultButton2) ? QMessageBox::No : QMessageBox::Yes);
    // Closing the box through the window counts as No.
    box.setEscapeButton(QMessageBox::No);
  } else {
    box.setStandardButtons(QMessageBox::Ok);
    box.setDefaultButton(QMessageBox::Ok);
  }
  const int answer = box.exec();
  if (question) return answer == QMessageBox::Yes ? kButtonYes : kButtonNo;
  return kButtonOk;
}

void installMessageBoxPresenter() { setMessagePresenter(presentMessageBox); }

}  // namespace vellomar
