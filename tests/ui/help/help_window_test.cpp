// SPDX-License-Identifier: GPL-3.0-or-later
// Help shows the manual inside the program, with its pictures and with no
// browser needed; "Open in browser" hands the page shown to the desktop's
// browser, and a help that cannot do what was asked says so.
#include <QAction>
#include <QApplication>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>
#include <QTextBrowser>
#include <QtTest>

#include "files/messages.h"
#include "support/test_support.h"
#include "ui/help/help.h"
#include "ui/help/help_window.h"
#include "ui/main_window/main_window.h"

using namespace vellomar;

namespace {

QByteArray manualText(const QUrl& manual) {
  QFile file(manual.isLocalFile() ? manual.toLocalFile() : QLatin1Char(':') + manual.path());
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The pictures the manual shows, as written in it.
QStringList imageSources(const QByteArray& html) {
  QStringList sources;
  const QRegularExpression image(QStringLiteral("<img[^>]*\\bsrc=\"([^\"]+)\""));
  for (auto match = image.globalMatch(QString::fromUtf8(html)); match.hasNext();) sources << match.next().captured(1);
  return sources;
}

HelpWindow* helpWindowOf(QWidget& owner) {
  return owner.findChild<HelpWindow*>(QString(), Qt::FindDirectChildrenOnly);
}

}  // namespace

class HelpWindowTest : public QObject {
  Q_OBJECT

 private slots:
  void cleanup() {
    setUrlOpener({});
    setManualFinder({});
  }

  void theBuiltInManualHasItsPictures() {
    const QUrl manual = findManual();
    QVERIFY(!manual.isEmpty());
    QCOMPARE(QFileInfo(manual.path()).fileName(), QString("vellomar.html"));
    const QByteArray html = manualText(manual);
    QVERIFY(html.contains("<title>Vellomar manual</title>"));
    for (const char* topic : {"Frequency scale", "Freq. granularity", "Time granularity", "Brightness to volume",
                              "Master gain", "Mel (perceptual)", "Logarithmic", "Load picture", "Generate sound"})
      QVERIFY2(html.contains(topic), topic);
    // Every picture the manual shows is in the program's own copy, so that
    // help shows it where no documentation is installed.
    const QStringList images = imageSources(html);
    QVERIFY(images.size() >= 8);
    for (const QString& image : images) {
      QVERIFY2(image.startsWith("images/"), qPrintable(image));
      QVERIFY2(QFileInfo::exists(":/help/" + image), qPrintable(image));
    }
  }

  void helpOpensTheManualInsideTheProgram() {
    int browsers = 0;
    setUrlOpener([&](const QUrl&) {
      ++browsers;
      return true;
    });
    test::MessageRecorder messages;
    MainWindow window;
    window.show();
    window.controls().helpAction->trigger();
    HelpWindow* help = helpWindowOf(window);
    QVERIFY(help);
    QVERIFY(QTest::qWaitForWindowExposed(help));
    QCOMPARE(help->windowTitle(), QString("Vellomar manual"));
    QVERIFY(help->browser()->toPlainText().contains("Quick start"));
    QCOMPARE(browsers, 0);  // no browser needed
    QVERIFY(messages.messages().empty());
    // The pictures load from beside the manual shown.
    const QStringList images = imageSources(manualText(help->manual()));
    QVERIFY(!images.isEmpty());
    const QVariant picture = help->browser()->loadResource(QTextDocument::ImageResource, QUrl(images.first()));
    QVERIFY2(picture.isValid() && !picture.value<QByteArray>().isEmpty(), qPrintable(images.first()));

    // Asked again, the same window comes to the front.
    help->close();
    window.controls().helpAction->trigger();
    QCOMPARE(helpWindowOf(window), help);
    QVERIFY(help->isVisible());
    QCOMPARE(window.findChildren<HelpWindow*>().size(), 1);
  }

  void backForwardAndContentsMoveThroughTheManual() {
    MainWindow window;
    showHelp(&window);
    HelpWindow* help = helpWindowOf(window);
    QVERIFY(help);
    QVERIFY(!help->backButton()->isEnabled());
    help->browser()->setSource(QUrl("#options"));
    QCOMPARE(help->browser()->source().fragment(), QString("options"));
    QVERIFY(help->backButton()->isEnabled());
    help->backButton()->click();
    QCOMPARE(help->browser()->source().fragment(), QString());
    QVERIFY(help->forwardButton()->isEnabled());
    help->forwardButton()->click();
    QCOMPARE(help->browser()->source().fragment(), QString("options"));
    help->contentsButton()->click();
    QCOMPARE(help->browser()->source().fragment(), QString());
    // Esc closes it.
    help->show();
    QVERIFY(QTest::qWaitForWindowExposed(help));
    QApplication::setActiveWindow(help);
    QTest::keyClick(help->browser(), Qt::Key_Escape);
    QVERIFY(!help->isVisible());
  }

  void openInBrowserHandsOnThePageShown() {
    QList<QUrl> opened;
    setUrlOpener([&](const QUrl& url) {
      opened << url;
      return true;
    });
    MainWindow window;
    showHelp(&window);
    HelpWindow* help = helpWindowOf(window);
    help->browser()->setSource(QUrl("#view"));
    help->openInBrowserButton()->click();
    QCOMPARE(opened.size(), 1);
    QVERIFY(opened[0].isLocalFile());
    QCOMPARE(opened[0].fragment(), QString("view"));
    const QString file = opened[0].toLocalFile();
    QCOMPARE(QFileInfo(file).fileName(), QString("vellomar.html"));
    // The browser finds the pictures beside it, whichever copy it is.
    const QDir folder = QFileInfo(file).dir();
    QFile manual(file);
    QVERIFY(manual.open(QIODevice::ReadOnly));
    for (const QString& image : imageSources(manual.readAll()))
      QVERIFY2(QFileInfo(folder.filePath(image)).size() > 0, qPrintable(image));
    QVERIFY(help->statusLabel()->isHidden());
  }

  void theBuiltInCopyGoesToTheBrowserWithItsPictures() {
    QList<QUrl> opened;
    setUrlOpener([&](const QUrl& url) {
      opened << url;
      return true;
    });
    setManualFinder([] { return QUrl("qrc:/help/vellomar.html"); });
    MainWindow window;
    showHelp(&window);
    HelpWindow* help = helpWindowOf(window);
    QVERIFY(help->browser()->toPlainText().contains("Quick start"));
    QVERIFY(help->openInBrowser());
    QCOMPARE(opened.size(), 1);
    const QString file = opened[0].toLocalFile();
    QFile written(file);
    QVERIFY(written.open(QIODevice::ReadOnly));
    QFile builtIn(":/help/vellomar.html");
    QVERIFY(builtIn.open(QIODevice::ReadOnly));
    QCOMPARE(written.readAll(), builtIn.readAll());
    const QStringList images = imageSources(manualText(QUrl("qrc:/help/vellomar.html")));
    for (const QString& image : images) {
      QFile copy(QFileInfo(file).dir().filePath(image));
      QFile original(":/help/" + image);
      QVERIFY2(copy.open(QIODevice::ReadOnly) && original.open(QIODevice::ReadOnly), qPrintable(image));
      QVERIFY2(copy.readAll() == original.readAll(), qPrintable(image));
    }
  }

  void withoutABrowserTheHelpWindowSaysSoAndStays() {
    int attempts = 0;
    setUrlOpener([&](const QUrl&) {
      ++attempts;
      return false;
    });
    test::MessageRecorder messages;
    MainWindow window;
    window.show();
    showHelp(&window);
    HelpWindow* help = helpWindowOf(window);
    QVERIFY(QTest::qWaitForWindowExposed(help));
    QVERIFY(!help->openInBrowser());
    QCOMPARE(attempts, 1);
    QVERIFY(help->statusLabel()->isVisible());
    QVERIFY2(help->statusLabel()->text().contains("No web browser could be started"),
             qPrintable(help->statusLabel()->text()));
    QVERIFY(help->statusLabel()->text().contains("vellomar.html"));
    QVERIFY(help->isVisible());
    QVERIFY(help->browser()->toPlainText().contains("Quick start"));
    QVERIFY(messages.messages().empty());
    // Every press tries again.
    help->openInBrowserButton()->click();
    QCOMPARE(attempts, 2);
  }

  void withoutAManualHelpSaysSo() {
    setManualFinder([] { return QUrl(); });
    test::MessageRecorder messages;
    MainWindow window;
    window.show();
    window.controls().helpAction->trigger();
    QCOMPARE(messages.messages().size(), std::size_t{1});
    const test::ShownMessage& shown = messages.messages().front();
    QCOMPARE(shown.caption, errorCaption());
    QVERIFY2(QString::fromStdString(shown.text).contains("Cannot find the manual 'vellomar.html'"),
             shown.text.c_str());
    QVERIFY(!helpWindowOf(window));
  }
};

QTEST_MAIN(HelpWindowTest)
#include "help_window_test.moc"
