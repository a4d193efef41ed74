// SPDX-License-Identifier: GPL-3.0-or-later
// The About box: its texts, icon and rule, and how it ends; opened from the
// main window's menu.
#include "ui/help/about_box.h"

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QtTest>

#include "ui/main_window/main_window.h"

using namespace vellomar;

namespace {

// Presses `key` on whatever modal dialog is open once the event loop runs.
void pressOnModal(int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
  QTimer::singleShot(0, [key, modifiers] {
    QWidget* modal = QApplication::activeModalWidget();
    QVERIFY(modal);
    QTest::keyClick(modal->focusWidget() ? modal->focusWidget() : modal, static_cast<Qt::Key>(key), modifiers);
  });
}

QLabel* label(QWidget* box, const char* name) { return box->findChild<QLabel*>(QString::fromUtf8(name)); }

}  // namespace

class AboutBoxTest : public QObject {
  Q_OBJECT

 private slots:
  void showsItsTexts() {
    AboutBox box(nullptr);
    QCOMPARE(box.windowTitle(), QString("About Vellomar"));
    QCOMPARE(label(&box, "productNameLabel")->text(), QString("Vellomar"));
    QCOMPARE(label(&box, "versionLabel")->text(), QString("ver. 1.0"));
    QCOMPARE(label(&box, "descriptionLabel")->text(),
             QString("Vellomar allows you to generate sound or to filter existing sound. It uses a picture as a "
                     "descripition of frequency spectrum changing over time."));
    QCOMPARE(label(&box, "limitationsLabel")->text(),
             QString("Known deficiencies in this version:\n- renders at 44100Hz only,\n"
                     "- pressing ESC closes main window."));
    QVERIFY(label(&box, "descriptionLabel")->wordWrap());
    QLabel* icon = label(&box, "aboutIcon");
    QVERIFY(icon);
    QCOMPARE(icon->pixmap().size(), QSize(32, 32));
    QVERIFY(icon->geometry().left() < label(&box, "productNameLabel")->geometry().left());

    auto* rule = box.findChild<QFrame*>("aboutRule");
    QVERIFY(rule);
    QCOMPARE(rule->palette().color(QPalette::Window), QColor(Qt::black));
    QVERIFY(rule->height() <= 3);
    QVERIFY(rule->geometry().top() > label(&box, "descriptionLabel")->geometry().top());
    QVERIFY(rule->geometry().bottom() < label(&box, "limitationsLabel")->geometry().top());

    auto* ok = box.findChild<QPushButton*>("okButton");
    QVERIFY(ok);
    QCOMPARE(ok->text(), QString("OK"));
    QVERIFY(ok->isDefault());
    QVERIFY(ok->geometry().left() > box.width() / 2);  // at the right
    QCOMPARE(box.minimumSize(), box.maximumSize());
    // Every control lies inside the box.
    for (QWidget* child : box.findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
      QVERIFY2(box.rect().contains(child->geometry()), qPrintable(child->objectName()));
  }

  void escapeClosesIt() {
    pressOnModal(Qt::Key_Escape);
    QCOMPARE(showAboutBox(nullptr), 2);
  }

  void enterClosesIt() {
    pressOnModal(Qt::Key_Return);
    QCOMPARE(showAboutBox(nullptr), 1);
    pressOnModal(Qt::Key_Enter, Qt::KeypadModifier);
    QCOMPARE(showAboutBox(nullptr), 1);
  }

  void okClosesIt() {
    QWidget* focused = nullptr;
    QPushButton* ok = nullptr;
    QTimer::singleShot(0, [&] {
      QWidget* modal = QApplication::activeModalWidget();
      ok = modal->findChild<QPushButton*>("okButton");
      focused = modal->focusWidget();
      ok->click();
    });
    QCOMPARE(showAboutBox(nullptr), 1);
    QVERIFY(ok);
    QCOMPARE(focused, static_cast<QWidget*>(ok));  // the first (and only) control takes the focus
  }

  void theMenuOpensItOverTheMainWindow() {
    MainWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QString seenTitle;
    QWidget* seenParent = nullptr;
    QTimer::singleShot(0, [&] {
      QWidget* modal = QApplication::activeModalWidget();
      QVERIFY(modal);
      seenTitle = modal->windowTitle();
      seenParent = modal->parentWidget();
      QTest::keyClick(modal, Qt::Key_Escape);
    });
    window.controls().aboutAction->trigger();
    QCOMPARE(seenTitle, QString("About Vellomar"));
    QCOMPARE(seenParent, static_cast<QWidget*>(&window));
    QVERIFY(window.isVisible());  // Esc ended the box, not the main window
  }
};

QTEST_MAIN(AboutBoxTest)
#include "about_box_test.moc"
