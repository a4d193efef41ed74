// Help opens the program's manual and gives up quietly, once and for all,
// when it cannot; messages appear as message boxes with their icon and
// buttons.
#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QFile>
#include <QFileInfo>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QtTest>

#include "files/messages.h"
#include "ui/help/help.h"
#include "ui/main_window/file_chooser_dialog.h"
#include "ui/main_window/main_window.h"
#include "ui/main_window/window_commands.h"
#include "ui/view/spectrogram_window.h"
#include "ui/view/view_menu.h"
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

class HelpAndMessagesTest : public QObject {
  Q_OBJECT

 private slots:
  void init() { resetHelpState(); }
  void cleanup() {
    setUrlOpener({});
    setMessagePresenter({});
  }

  void theManualIsFound() {
    const QString manual = findManual();
    QVERIFY(!manual.isEmpty());
    QCOMPARE(QFileInfo(manual).fileName(), QString("vellomar.html"));
    QFile file(manual);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray html = file.readAll();
    QVERIFY(html.contains("<title>Vellomar manual</title>"));
    for (const char* topic : {"Frequency scale", "Freq. granularity", "Time granularity", "Brightness to volume",
                              "Master gain", "Mel (perceptual)", "Logarithmic", "Load picture", "Generate sound"})
      QVERIFY2(html.contains(topic), topic);
  }

  void theManualAndTheReadmeListEveryShortcut() {
    QFile manual(QStringLiteral(VELLOMAR_SOURCE_DIR "/docs/vellomar.html"));
    QVERIFY(manual.open(QIODevice::ReadOnly));
    const QString html = QString::fromUtf8(manual.readAll());
    QFile readmeFile(QStringLiteral(VELLOMAR_SOURCE_DIR "/README.md"));
    QVERIFY2(readmeFile.open(QIODevice::ReadOnly), qPrintable(readmeFile.fileName()));
    const QString readme = QString::fromUtf8(readmeFile.readAll());
    // Every shortcut of the window, its menus, the spectrogram window and
    // the file chooser.
    MainWindow window;
    SpectrogramWindow spectrogram(&window);
    FileChooserDialog chooser(FileRequest{}, &window);
    QStringList keys;
    for (QObject* root : std::initializer_list<QObject*>{&window, &spectrogram, &chooser}) {
      for (const QAction* action : root->findChildren<QAction*>()) {
        if (!action->shortcut().isEmpty()) keys << action->shortcut().toString(QKeySequence::PortableText);
      }
      for (const QAbstractButton* button : root->findChildren<QAbstractButton*>()) {
        if (!button->shortcut().isEmpty()) keys << button->shortcut().toString(QKeySequence::PortableText);
      }
    }
    keys.removeDuplicates();
    QVERIFY(keys.contains("Ctrl+D") && keys.contains("Ctrl+Shift+R") && keys.contains("F1"));
    for (const QString& key : keys) {
      const QString kbd = QStringLiteral("<tr><td><kbd>") + key.split('+').join("</kbd>+<kbd>") + "</kbd></td>";
      QVERIFY2(html.contains(kbd), qPrintable("the manual's table lacks " + key));
      QVERIFY2(readme.contains("| " + key + " |"), qPrintable("the README's table lacks " + key));
    }
  }

  void helpOpensTheManualEveryTime() {
    QList<QUrl> opened;
    setUrlOpener([&](const QUrl& url) {
      opened << url;
      return true;
    });
    MainWindow window;
    window.controls().helpAction->trigger();
    window.controls().helpAction->trigger();
    QCOMPARE(opened.size(), 2);
    QVERIFY(opened[0].isLocalFile());
    QVERIFY(QFileInfo::exists(opened[0].toLocalFile()));
    QCOMPARE(QFileInfo(opened[0].toLocalFile()).fileName(), QString("vellomar.html"));
  }

  void withoutAViewerHelpTriesOnceAndStaysSilent() {
    int attempts = 0;
    int boxes = 0;
    setMessagePresenter([&](MessageOwner, unsigned, const std::string&, const std::string&) {
      ++boxes;
      return kButtonOk;
    });
    setUrlOpener([&](const QUrl&) {
      ++attempts;
      return false;
    });
    showHelp(nullptr);
    showHelp(nullptr);
    showHelp(nullptr);
    QCOMPARE(attempts, 1);
    QCOMPARE(boxes, 0);
  }

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

QTEST_MAIN(HelpAndMessagesTest)
#include "help_and_messages_test.moc"
