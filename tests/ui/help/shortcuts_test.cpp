// SPDX-License-Identifier: GPL-3.0-or-later
// The manual's and the README's shortcut tables list every shortcut the
// window, its menus, the spectrogram window and the file chooser have.
#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QFile>
#include <QtTest>
#include <initializer_list>

#include "ui/main_window/file_chooser_dialog.h"
#include "ui/main_window/window_commands.h"
#include "ui/main_window/main_window.h"
#include "ui/view/spectrogram_window.h"

using namespace vellomar;

class ShortcutsTest : public QObject {
  Q_OBJECT

 private slots:
  void theManualAndTheReadmeListEveryShortcut() {
    QFile manual(QStringLiteral(VELLOMAR_SOURCE_DIR "/docs/vellomar.html"));
    QVERIFY(manual.open(QIODevice::ReadOnly));
    const QString html = QString::fromUtf8(manual.readAll());
    QFile readmeFile(QStringLiteral(VELLOMAR_SOURCE_DIR "/README.md"));
    QVERIFY2(readmeFile.open(QIODevice::ReadOnly), qPrintable(readmeFile.fileName()));
    const QString readme = QString::fromUtf8(readmeFile.readAll());
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
};

QTEST_MAIN(ShortcutsTest)
#include "shortcuts_test.moc"
