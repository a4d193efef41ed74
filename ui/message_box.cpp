#include "ui/message_box.h"

#include <QMessageBox>
#include <QWidget>

namespace vellomar {

int presentMessageBox(MessageOwner owner, unsigned boxType, const std::string& caption, const std::string& text) {
  QMessageBox box(static_cast<QWidget*>(owner));
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
  if ((boxType & 0xFu) == kBoxYesNo) {
    box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
    box.setDefaultButton((boxType & kBoxDefaultButton2) ? QMessageBox::No : QMessageBox::Yes);
    // Esc cannot close a Yes/No box; closing it any other way counts as No.
    box.setEscapeButton(static_cast<QAbstractButton*>(nullptr));
  } else {
    box.setStandardButtons(QMessageBox::Ok);
    box.setDefaultButton(QMessageBox::Ok);
  }
  const int answer = box.exec();
  if ((boxType & 0xFu) == kBoxYesNo) return answer == QMessageBox::Yes ? kButtonYes : kButtonNo;
  return kButtonOk;
}

void installMessageBoxPresenter() { setMessagePresenter(presentMessageBox); }

}  // namespace vellomar
