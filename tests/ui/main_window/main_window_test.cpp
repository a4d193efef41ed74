// SPDX-License-Identifier: GPL-3.0-or-later
// The main window as it opens: controls, texts, states, placement, groups,
// tab order, the Enter key, ending the window and the preview frame.
#include "ui/main_window/main_window.h"

#include <QAction>
#include <QButtonGroup>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QRadioButton>
#include <QSignalSpy>
#include <QSlider>
#include <QtTest>
#include <memory>

#include "engine/settings.h"
#include "ui/common/dialog_units.h"
#include "ui/help/help_window.h"
#include "ui/axes/preview_frame.h"
#include "ui/main_window/window_commands.h"

using namespace vellomar;

class MainWindowTest : public QObject {
  Q_OBJECT

 private slots:
  void captionMenuAndWindowKind() {
    MainWindow w;
    QCOMPARE(w.windowTitle(), QString("Vellomar"));
    const MainWindowControls& c = w.controls();
    // "View", "Play", "Options", then "Help" last.
    const QList<QAction*> menus = c.menuBar->actions();
    QCOMPARE(menus.size(), 4);
    QCOMPARE(menus[0]->text(), QString("&View"));
    QCOMPARE(menus[1]->text(), QString("&Play"));
    QCOMPARE(menus[2]->text(), QString("&Options"));
    QCOMPARE(menus.back(), c.helpMenu->menuAction());
    QCOMPARE(c.helpMenu->title(), QString("&Help"));
    QCOMPARE(c.helpMenu->actions().size(), 2);
    QCOMPARE(c.helpMenu->actions()[0], c.helpAction);
    QCOMPARE(c.helpAction->text(), QString("Help..."));
    QCOMPARE(c.helpAction->data().toInt(), 32772);
    QCOMPARE(c.helpMenu->actions()[1], c.aboutAction);
    QCOMPARE(c.aboutAction->text(), QString("&About ..."));
    QCOMPARE(c.aboutAction->data().toInt(), 104);

    const Qt::WindowFlags flags = w.windowFlags();
    QVERIFY(flags & Qt::WindowMinimizeButtonHint);
    QVERIFY(!(flags & Qt::WindowMaximizeButtonHint));
    QVERIFY(!w.windowIcon().isNull());
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QCOMPARE(w.minimumSize(), w.maximumSize());  // not resizable
  }

  void controlTexts() {
    MainWindow w;
    const MainWindowControls& c = w.controls();
    QCOMPARE(c.whiteNoiseRadio->text(), QString("White noise (flat spectrum)"));
    QCOMPARE(c.pinkNoiseRadio->text(), QString("Pink noise (-3dB/octave)"));
    QCOMPARE(c.waveFileRadio->text(), QString("Wave file"));
    QCOMPARE(c.inputSourceGroup->title(), QString("Input source"));
    QCOMPARE(c.frequencyScaleLabel->text(), QString("Frequency scale"));
    QCOMPARE(c.templateButton->text(), QString("Template"));
    QCOMPARE(c.freqGranularityLabel->text(), QString("Freq. granularity"));
    QCOMPARE(c.timeGranularityLabel->text(), QString("Time granularity"));
    QCOMPARE(c.timePerLineLabel->text(), QString("Time per picture line is XXX"));
    QVERIFY(c.timePerLineLabel->alignment() & Qt::AlignRight);
    QCOMPARE(c.brightnessLabel->text(), QString("Brightness to volume:"));
    QCOMPARE(c.linRadio->text(), QString("Lin"));
    QCOMPARE(c.logRadio->text(), QString("Log - range:"));
    QCOMPARE(c.rangeDbLabel->text(), QString("dB"));
    QCOMPARE(c.masterGainLabel->text(), QString("Master gain"));
    QCOMPARE(c.gainDbLabel->text(), QString("dB"));
    QCOMPARE(c.inputPathLabel->text(), QString("Input wave file"));
    QCOMPARE(c.durationLabel->text(), QString("Duration"));
    QCOMPARE(c.secondsLabel->text(), QString("seconds"));
    QCOMPARE(c.inputBrowseButton->text(), QString("..."));
    QCOMPARE(c.outputPathLabel->text(), QString("Output wave file"));
    QCOMPARE(c.outputBrowseButton->text(), QString("..."));
    QCOMPARE(c.loadPictureButton->text(), QString("Load picture"));
    QCOMPARE(c.generateButton->text(), QString("Generate sound"));
    QCOMPARE(c.playButton->text(), QString("Play generated"));
    QCOMPARE(c.exitButton->text(), QString("Exit"));
    QCOMPARE(c.hiddenDefaultButton->text(), QString("Hidden default button"));
    QCOMPARE(c.gainSlider->orientation(), Qt::Horizontal);
    QCOMPARE(c.gainSlider->tickPosition(), QSlider::NoTicks);
  }

  void initialStates() {
    MainWindow w;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    const MainWindowControls& c = w.controls();
    // The input-file group, the read-out and the default button start hidden.
    for (QWidget* hidden : std::initializer_list<QWidget*>{c.inputPathLabel, c.inputPathEdit, c.inputBrowseButton,
                                                           c.timePerLineLabel, c.hiddenDefaultButton})
      QVERIFY2(!hidden->isVisible(), qPrintable(hidden->objectName()));
    for (QWidget* shown : std::initializer_list<QWidget*>{c.durationLabel, c.durationEdit, c.secondsLabel,
                                                          c.previewFrame, c.timeAxisStrip, c.freqAxisStrip,
                                                          c.rangeUpDown, c.gainSlider, c.outputPathEdit})
      QVERIFY2(shown->isVisible(), qPrintable(shown->objectName()));
    QVERIFY(!c.generateButton->isEnabled());
    QVERIFY(!c.playButton->isEnabled());
    QVERIFY(c.loadPictureButton->isEnabled());
    QVERIFY(c.exitButton->isEnabled());
    QVERIFY(c.hiddenDefaultButton->isDefault());
    QVERIFY(!c.exitButton->isDefault());
    QVERIFY(!c.previewFrame->picture());
  }

  void controlsByTemplateId() {
    MainWindow w;
    const MainWindowControls& c = w.controls();
    QCOMPARE(w.control(1013), c.whiteNoiseRadio);
    QCOMPARE(w.control(1033), c.previewFrame);
    QCOMPARE(w.control(1025), c.rangeEdit);
    QCOMPARE(w.control(1024), c.rangeUpDown);
    QCOMPARE(c.rangeEdit, c.rangeUpDown->edit());
    QCOMPARE(w.control(1031), c.freqAxisStrip);
    QCOMPARE(w.control(1032), c.timeAxisStrip);
    QCOMPARE(w.control(1), c.hiddenDefaultButton);
    QCOMPARE(w.control(1002), c.exitButton);
    QVERIFY(w.control(-1) == nullptr);
    QVERIFY(w.control(4242) == nullptr);
    QCOMPARE(c.rangeEdit->property("templateId").toInt(), 1025);
    QCOMPARE(c.gainEdit->property("templateId").toInt(), 1027);
  }

  void placedFromDialogUnits() {
    MainWindow w;
    const DialogBaseUnits base = w.baseUnits();
    QVERIFY(base.x > 0 && base.y > 0);
    QCOMPARE(base.y, QFontMetrics(dialogFont()).height());
    QCOMPARE(w.clientArea()->size(), QSize(dluToPixelsX(498, base), dluToPixelsY(275, base)));
    const MainWindowControls& c = w.controls();
    QCOMPARE(c.previewFrame->geometry(), dluToPixels(286, 7, 205, 219, base));
    QCOMPARE(c.exitButton->geometry(), dluToPixels(146, 246, 42, 22, base));
    QCOMPARE(c.outputPathEdit->geometry(), dluToPixels(7, 225, 198, 14, base));
    // The up-down and its edit share the edit's place.
    QCOMPARE(c.rangeUpDown->geometry(), dluToPixels(163, 136, 32, 14, base));
    // A drop-down list shows one line; its template height includes the list.
    QCOMPARE(c.scaleList->geometry().topLeft(), dluToPixels(63, 77, 74, 53, base).topLeft());
    QVERIFY(c.scaleList->height() < dluToPixelsY(53, base));
    // Every control lies inside the client area.
    for (QWidget* child : w.clientArea()->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
      if (child != c.timeAxisStrip && child != c.freqAxisStrip)
        QVERIFY2(w.clientArea()->rect().contains(child->geometry()), qPrintable(child->objectName()));
  }

  void dialogUnitsRound() {
    const DialogBaseUnits base{6, 13};
    QCOMPARE(dluToPixelsX(498, base), 747);
    QCOMPARE(dluToPixelsY(275, base), 447);  // 446.875
    QCOMPARE(dluToPixelsX(1, base), 2);      // 1.5 rounds up
    QCOMPARE(dluToPixelsY(1, base), 2);      // 1.625
    QCOMPARE(dluToPixelsX(0, base), 0);
  }

  void radioGroupsAreSeparate() {
    MainWindow w;
    const MainWindowControls& c = w.controls();
    c.pinkNoiseRadio->setChecked(true);
    c.linRadio->setChecked(true);
    QVERIFY(c.pinkNoiseRadio->isChecked());
    c.whiteNoiseRadio->click();
    QVERIFY(c.whiteNoiseRadio->isChecked());
    QVERIFY(!c.pinkNoiseRadio->isChecked());
    QVERIFY(c.linRadio->isChecked());
    c.logRadio->click();
    QVERIFY(!c.linRadio->isChecked());
    QVERIFY(c.whiteNoiseRadio->isChecked());
    QCOMPARE(c.sourceButtons->buttons().size(), 3);
    QCOMPARE(c.sourceButtons->id(c.waveFileRadio), 1016);
    QCOMPARE(c.brightnessButtons->buttons().size(), 2);
  }

  void groupBoxDoesNotCoverItsButtons() {
    MainWindow w;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    const MainWindowControls& c = w.controls();
    const QPoint centre = c.waveFileRadio->geometry().center();
    QCOMPARE(w.clientArea()->childAt(centre), static_cast<QWidget*>(c.waveFileRadio));
  }

  void tabOrderIsTemplateOrder() {
    MainWindow w;
    QStringList order;
    QWidget* first = w.controls().whiteNoiseRadio;
    QWidget* widget = first;
    do {
      // Every focusable control, Tab stop or not (only the checked button of a
      // radio group is one).
      if (widget->focusPolicy() != Qt::NoFocus && widget->parentWidget() == w.clientArea())
        order << widget->objectName();
      widget = widget->nextInFocusChain();
    } while (widget != first);
    const QStringList expected{"whiteNoiseRadio",    "pinkNoiseRadio",      "waveFileRadio",       "scaleList",
                               "templateButton",     "freqGranularityList", "timeGranularityList", "linRadio",
                               "logRadio",           "rangeUpDown",         "gainSlider",          "gainEdit",
                               "inputPathEdit",      "durationEdit",        "inputBrowseButton",   "outputPathEdit",
                               "outputBrowseButton", "loadPictureButton",   "generateButton",      "playButton",
                               "exitButton",         "hiddenDefaultButton"};
    QCOMPARE(order, expected);
  }

  void tabEntersARadioGroupOnItsCheckedButton() {
    renderSettings = RenderSettings();  // pink noise, linear brightness
    MainWindow w;
    w.show();
    QApplication::setActiveWindow(&w);
    QVERIFY(QTest::qWaitForWindowActive(&w));
    const MainWindowControls& c = w.controls();
    const auto tabFrom = [](QWidget* from, bool forward) {
      from->setFocus(Qt::OtherFocusReason);
      QTest::keyClick(from, forward ? Qt::Key_Tab : Qt::Key_Backtab);
      return QApplication::focusWidget();
    };
    // The window opens on the checked source button (pink noise).
    QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(c.pinkNoiseRadio));
    QCOMPARE(tabFrom(c.exitButton, true), static_cast<QWidget*>(c.pinkNoiseRadio));
    QCOMPARE(tabFrom(c.scaleList, false), static_cast<QWidget*>(c.pinkNoiseRadio));
    // Tab leaves the group from its checked button.
    QCOMPARE(tabFrom(c.pinkNoiseRadio, true), static_cast<QWidget*>(c.scaleList));
    // The arrow keys move within the group and check as they go.
    c.pinkNoiseRadio->setFocus();
    QTest::keyClick(c.pinkNoiseRadio, Qt::Key_Down);
    QVERIFY(c.waveFileRadio->isChecked());
    QCOMPARE(tabFrom(c.exitButton, true), static_cast<QWidget*>(c.waveFileRadio));
    c.whiteNoiseRadio->click();
    QCOMPARE(tabFrom(c.scaleList, false), static_cast<QWidget*>(c.whiteNoiseRadio));

    // The brightness group alike.
    QCOMPARE(tabFrom(c.timeGranularityList, true), static_cast<QWidget*>(c.linRadio));
    c.logRadio->click();
    QCOMPARE(tabFrom(c.timeGranularityList, true), static_cast<QWidget*>(c.logRadio));
    QCOMPARE(tabFrom(c.logRadio, true), static_cast<QWidget*>(c.rangeUpDown));
  }

  void shortcutsAreShownInTheMenuAndTooltips() {
    MainWindow w;
    const MainWindowControls& c = w.controls();
    QCOMPARE(c.helpAction->shortcut(), QKeySequence(Qt::Key_F1));
    const struct {
      QAction* action;
      QPushButton* button;
      QKeySequence keys;
      const char* tip;
    } shortcuts[] = {
        {c.loadPictureShortcut, c.loadPictureButton, QKeySequence(Qt::CTRL | Qt::Key_O), "Load picture (Ctrl+O)"},
        {c.generateShortcut, c.generateButton, QKeySequence(Qt::CTRL | Qt::Key_G), "Generate sound (Ctrl+G)"},
        {c.playShortcut, c.playButton, QKeySequence(Qt::CTRL | Qt::Key_P), "Play generated (Ctrl+P)"},
        {c.exitShortcut, c.exitButton, QKeySequence(Qt::CTRL | Qt::Key_Q), "Exit (Ctrl+Q)"},
    };
    for (const auto& s : shortcuts) {
      QVERIFY(s.action != nullptr);
      QCOMPARE(s.action->shortcut(), s.keys);
      QVERIFY(w.actions().contains(s.action));
      QCOMPARE(s.button->toolTip(), QString(s.tip));
    }
  }

  void f1OpensHelp() {
    MainWindow w;
    w.show();
    QApplication::setActiveWindow(&w);
    QVERIFY(QTest::qWaitForWindowActive(&w));
    QTest::keyClick(w.controls().durationEdit, Qt::Key_F1);
    auto* help = w.findChild<HelpWindow*>();
    QVERIFY(help);
    QVERIFY(help->isVisible());
  }

  void enterInAFieldPressesTheHiddenDefaultButton() {
    MainWindow w;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    const MainWindowControls& c = w.controls();
    QSignalSpy hidden(c.hiddenDefaultButton, &QPushButton::clicked);
    QSignalSpy load(c.loadPictureButton, &QPushButton::clicked);
    // "Load picture" asks for a file: the request is cancelled.
    setFileChooser([](const FileRequest&) { return std::optional<QString>(); });
    c.durationEdit->setFocus();
    QTest::keyClick(c.durationEdit, Qt::Key_Return);
    QCOMPARE(hidden.count(), 1);
    QCOMPARE(load.count(), 0);
    QVERIFY(w.isVisible());
    // On a focused push button Enter presses that button.
    c.loadPictureButton->setFocus();
    QTest::keyClick(c.loadPictureButton, Qt::Key_Enter, Qt::KeypadModifier);
    QCOMPARE(load.count(), 1);
    QCOMPARE(hidden.count(), 1);
    setFileChooser(nullptr);
  }

  void exitEndsTheWindow() {
    MainWindow w;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QSignalSpy finished(&w, &QDialog::finished);
    w.controls().exitButton->click();
    QCOMPARE(finished.count(), 1);
    QCOMPARE(finished.first().first().toInt(), 1);
    QVERIFY(!w.isVisible());
  }

  void escapeEndsTheWindow() {
    MainWindow w;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QSignalSpy finished(&w, &QDialog::finished);
    w.controls().durationEdit->setFocus();
    QTest::keyClick(w.controls().durationEdit, Qt::Key_Escape);
    QCOMPARE(finished.count(), 1);
    QCOMPARE(finished.first().first().toInt(), 1);
  }

  void pictureFillsTheFrameInteriorWithoutResizingIt() {
    MainWindow w;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    PreviewFrame* frame = w.controls().previewFrame;
    const QRect geometry = frame->geometry();
    const QImage empty = frame->grab().toImage();
    const QColor background = empty.pixelColor(frame->width() / 2, frame->height() / 2);

    // 2 x 2 picture stored bottom-up: top row 255 0, bottom row 80 160.
    auto bitmap = std::make_shared<PictureBitmap>();
    bitmap->width = 2;
    bitmap->height = 2;
    bitmap->stride = 4;
    bitmap->pixels = {80, 160, 0, 0, 255, 0, 0, 0};
    std::weak_ptr<const PictureBitmap> first = bitmap;
    frame->setPicture(bitmap);
    bitmap.reset();
    QCOMPARE(frame->geometry(), geometry);
    const QImage shown = frame->grab().toImage();
    const QRect inside = frame->interior();
    QCOMPARE(inside, QRect(1, 1, geometry.width() - 2, geometry.height() - 2));
    QCOMPARE(qGray(shown.pixel(inside.left(), inside.top())), 255);
    QCOMPARE(qGray(shown.pixel(inside.right(), inside.top())), 0);
    QCOMPARE(qGray(shown.pixel(inside.left(), inside.bottom())), 80);
    QCOMPARE(qGray(shown.pixel(inside.right(), inside.bottom())), 160);
    QCOMPARE(qGray(shown.pixel(inside.width() / 4, inside.height() / 4)), 255);
    QVERIFY(shown.pixelColor(frame->width() / 2, frame->height() / 2) != background || background.value() == 0);

    // A new picture replaces the old one, which is let go.
    auto second = std::make_shared<PictureBitmap>();
    second->width = 1;
    second->height = 1;
    second->stride = 4;
    second->pixels = {200, 0, 0, 0};
    QVERIFY(!first.expired());
    frame->setPicture(second);
    QVERIFY(first.expired());
    QCOMPARE(frame->picture(), std::shared_ptr<const PictureBitmap>(second));
    QCOMPARE(frame->geometry(), geometry);
    const QImage again = frame->grab().toImage();
    QCOMPARE(qGray(again.pixel(inside.right(), inside.bottom())), 200);
    QCOMPARE(qGray(again.pixel(inside.left(), inside.top())), 200);
  }
};

QTEST_MAIN(MainWindowTest)
#include "main_window_test.moc"
