// SPDX-License-Identifier: GPL-3.0-or-later
// Messages appear as message boxes with their icon and buttons.
#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QtTest>

#include "files/messages.h"
#include "ui/common/message_box.h"

using namespace vellomar;

namespace {

struct BoxSeen {
  QString caption;
  QString text;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  QMessageBox::StandardButtons buttons;
  QMessageBox::StandardButton defaultButton = QMessageBox::NoButton;
  QWidget* parent = nullptr;
};

// Looks at the message box that opens next and closes it with `answer`.
void answerNextBox(BoxSeen& seen, QMessageBox::StandardButton answer) {
  QTimer::singleShot(0, [&seen, answer] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    QVERIFY(box);
    seen.caption = box->windowTitle();
    seen.text = box->text();
    seen.icon = box->icon();
    seen.buttons = box->standardButtons();
    seen.parent = box->parentWidget();
    seen.defaultButton = box->standardButton(box->defaultButton());
    box->button(answer)->click();
  });
}

}  // namespace

class MessagesTest : public QObject {
  Q_OBJECT

 private slots:
  void cleanup() { setMessagePresenter({}); }

  void errorBoxesCarryTheErrorIcon() {
    installMessageBoxPresenter();
    QWidget owner;
    BoxSeen seen;
    answerNextBox(seen, QMessageBox::Ok);
    QCOMPARE(showErrorBox(&owner, "Failed to load picture '%s'", "a.png"), kButtonOk);
    QCOMPARE(seen.caption, QString::fromStdString(errorCaption()));
    QCOMPARE(seen.text, QString("Failed to load picture 'a.png'"));
    QCOMPARE(seen.icon, QMessageBox::Critical);
    QCOMPARE(seen.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    QCOMPARE(seen.parent, &owner);
  }

  void questionsAnswerYesOrNo() {
    installMessageBoxPresenter();
    BoxSeen seen;
    answerNextBox(seen, QMessageBox::No);
    QCOMPARE(showMessage(nullptr, kBoxYesNo | kBoxIconWarning, "Warning", "Go on?"), kButtonNo);
    QCOMPARE(seen.icon, QMessageBox::Warning);
    QCOMPARE(seen.buttons, QMessageBox::Yes | QMessageBox::No);
    QCOMPARE(seen.caption, QString("Warning"));
    QCOMPARE(seen.defaultButton, QMessageBox::Yes);
    answerNextBox(seen, QMessageBox::Yes);
    QCOMPARE(showMessage(nullptr, kBoxYesNo | kBoxIconWarning, "Warning", "Go on?"), kButtonYes);
    // A question about replacing a file leaves Enter on No.
    answerNextBox(seen, QMessageBox::Yes);
    QCOMPARE(showMessage(nullptr, kBoxYesNo | kBoxIconWarning | kBoxDefaultButton2, "File exists", "Replace?"),
             kButtonYes);
    QCOMPARE(seen.defaultButton, QMessageBox::No);
    QCOMPARE(seen.icon, QMessageBox::Warning);
  }

  void escapeDoesNotAnswerAQuestion() {
    installMessageBoxPresenter();
    // Esc on the box (and on its focused button) is ignored; only a button
    // answers. An information box is closed by Esc as usual.
    bool openAfterEscape = false;
    QTimer::singleShot(0, [&] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      QVERIFY(box);
      QTest::keyClick(box, Qt::Key_Escape);
      if (box->focusWidget() != nullptr) QTest::keyClick(box->focusWidget(), Qt::Key_Escape);
      openAfterEscape = box->isVisible();
      box->button(QMessageBox::Yes)->click();
    });
    QCOMPARE(showMessage(nullptr, kBoxYesNo | kBoxIconWarning | kBoxDefaultButton2, "File exists", "Replace?"),
             kButtonYes);
    QVERIFY(openAfterEscape);

    bool closedByEscape = false;
    QTimer::singleShot(0, [&] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      QVERIFY(box);
      QTest::keyClick(box, Qt::Key_Escape);
      closedByEscape = !box->isVisible();
      if (!closedByEscape) box->button(QMessageBox::Ok)->click();
    });
    QCOMPARE(showMessage(nullptr, kBoxOk | kBoxIconInformation, "Missing picture", "No picture."), kButtonOk);
    QVERIFY(closedByEscape);
  }

  void informationBoxes() {
    installMessageBoxPresenter();
    BoxSeen seen;
    answerNextBox(seen, QMessageBox::Ok);
    QCOMPARE(showMessage(nullptr, kBoxOk | kBoxIconInformation, "Missing picture", "%s",
                         "You must load a picture before generating sound."),
             kButtonOk);
    QCOMPARE(seen.icon, QMessageBox::Information);
    QCOMPARE(seen.caption, QString("Missing picture"));
    QCOMPARE(seen.text, QString("You must load a picture before generating sound."));
  }
};

QTEST_MAIN(MessagesTest)
#include "messages_test.moc"
