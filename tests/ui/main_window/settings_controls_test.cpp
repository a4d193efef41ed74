// SPDX-License-Identifier: GPL-3.0-or-later
// The main window's settings controls (the lists, the number fields and
// what they show), driven through the real widgets with real pictures and
// wave files.
#include "ui/main_window/settings_controls.h"

#include <QApplication>
#include <QComboBox>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QSpinBox>
#include <QTest>
#include <QWidget>
#include <filesystem>
#include <memory>

#include "engine/settings.h"
#include "files/messages.h"
#include "support/test_support.h"
#include "ui/main_window/main_window.h"
#include "ui/main_window/window_commands.h"
#include "window_commands_support.h"

using namespace vellomar;
using namespace vellomar::test;

class SettingsControlsTest : public QObject, public WindowCommandsFixture {
  Q_OBJECT

 private slots:
  void init() { openWindow(); }
  void cleanup() { closeWindow(); }

  void startsWithTheDefaults() {
    QVERIFY(c().pinkNoiseRadio->isChecked());
    QVERIFY(!c().whiteNoiseRadio->isChecked());
    QCOMPARE(c().durationEdit->text(), QString("15"));
    QVERIFY(c().durationEdit->isVisible());
    QVERIFY(!c().inputPathEdit->isVisible());
    QCOMPARE(c().inputPathEdit->text(), QString("[Not selected]"));
    QCOMPARE(c().outputPathEdit->text(), QString("[Not selected]"));
    QVERIFY(!c().generateButton->isEnabled());
    QVERIFY(!c().playButton->isEnabled());
    QVERIFY(!c().timePerLineLabel->isVisible());
    QCOMPARE(c().scaleList->count(), 3);
    QCOMPARE(c().scaleList->currentText(), QString("Mel (perceptual)"));
    QCOMPARE(c().freqGranularityList->currentText(), QString("5.4 Hz"));
    QCOMPARE(c().timeGranularityList->currentText(), QString("0.046 sec"));
    QCOMPARE(c().gainEdit->text(), QString("6"));
    QCOMPARE(c().gainSlider->value(), 6);
    QCOMPARE(c().rangeEdit->text(), QString("60"));
    QVERIFY(!c().rangeUpDown->isEnabled());
    QVERIFY(c().linRadio->isChecked());
    QVERIFY(messages_->messages().empty());
  }

  void granularityChoicesKeepBothListsInStep() {
    choose(c().timeGranularityList, "0.37 sec");
    QCOMPARE(renderSettings.blockLength, 16384);
    QCOMPARE(renderSettings.subBlocksPerBlock, 1);
    QCOMPARE(c().freqGranularityList->currentText(), QString("2.7 Hz"));

    choose(c().freqGranularityList, "22 Hz");
    QCOMPARE(renderSettings.blockLength, 2048);
    QCOMPARE(renderSettings.subBlocksPerBlock, 1);
    QCOMPARE(c().timeGranularityList->currentText(), QString("0.046 sec"));

    choose(c().timeGranularityList, "0.012 sec");
    QCOMPARE(renderSettings.blockLength, 2048);
    QCOMPARE(renderSettings.subBlocksPerBlock, 4);

    choose(c().freqGranularityList, "1.35 Hz");
    QCOMPARE(renderSettings.blockLength, 32768);
    QCOMPARE(renderSettings.subBlocksPerBlock, 16);
    QCOMPARE(c().timeGranularityList->currentText(), QString("0.046 sec"));

    choose(c().timeGranularityList, "0.012 sec");
    QCOMPARE(renderSettings.blockLength, 8192);
    QCOMPARE(renderSettings.subBlocksPerBlock, 16);
    QCOMPARE(c().freqGranularityList->currentText(), QString("5.4 Hz"));
    QVERIFY(messages_->messages().empty());
  }

  void fromTheDefaultsAFineTimeKeepsTheBlock() {
    choose(c().timeGranularityList, "0.012 sec");
    QCOMPARE(renderSettings.blockLength, 8192);
    QCOMPARE(renderSettings.subBlocksPerBlock, 16);
    QCOMPARE(c().freqGranularityList->currentText(), QString("5.4 Hz"));
  }

  void scaleListSetsTheScale() {
    choose(c().scaleList, "Linear");
    QCOMPARE(renderSettings.frequencyScale, FrequencyScale::Linear);
    choose(c().scaleList, "Logarithmic");
    QCOMPARE(renderSettings.frequencyScale, FrequencyScale::Logarithmic);
  }

  void rangeFieldRoundsAndClamps() {
    c().logRadio->click();
    QVERIFY(renderSettings.logBrightness);
    QVERIFY(c().rangeUpDown->isEnabled());
    const std::pair<const char*, int> cases[] = {{"14", 20},   {"15", 20},   {"64", 60}, {"65", 70},
                                                 {"124", 120}, {"125", 120}, {"", 20}};
    for (const auto& [text, expected] : cases) {
      type(c().rangeEdit, text);
      QCOMPARE(renderSettings.logRangeDb, expected);
      QCOMPARE(c().rangeEdit->text(), QString::number(expected));
    }
    // Typed as a user types: any digits, then Enter or leaving the field.
    c().rangeEdit->setFocus();
    c().rangeEdit->selectAll();
    QTest::keyClicks(c().rangeEdit, "125");
    QCOMPARE(c().rangeEdit->text(), QString("125"));
    QTest::keyClick(c().rangeEdit, Qt::Key_Return);
    QCOMPARE(renderSettings.logRangeDb, 120);
    QCOMPARE(c().rangeEdit->text(), QString("120"));
    c().rangeEdit->setFocus();
    c().rangeEdit->selectAll();
    QTest::keyClicks(c().rangeEdit, "14");
    c().exitButton->setFocus();
    QCOMPARE(renderSettings.logRangeDb, 20);
    QCOMPARE(c().rangeEdit->text(), QString("20"));
    // Arrows step by 10 and stop at the ends.
    c().rangeUpDown->stepUp();
    QCOMPARE(renderSettings.logRangeDb, 30);
    for (int i = 0; i < 20; ++i) c().rangeUpDown->stepUp();
    QCOMPARE(renderSettings.logRangeDb, 120);
    QCOMPARE(c().rangeEdit->text(), QString("120"));

    c().linRadio->click();
    QVERIFY(!renderSettings.logBrightness);
    QVERIFY(!c().rangeUpDown->isEnabled());
  }

  void gainFieldClampsAndMovesTheSlider() {
    type(c().gainEdit, "60");
    QCOMPARE(renderSettings.masterGainDb, 48);
    QCOMPARE(c().gainEdit->text(), QString("48"));
    QCOMPARE(c().gainSlider->value(), 48);
    type(c().gainEdit, "");
    QCOMPARE(renderSettings.masterGainDb, 0);
    QCOMPARE(c().gainEdit->text(), QString(""));
    QCOMPARE(c().gainSlider->value(), 0);
    c().gainSlider->setValue(20);
    QCOMPARE(renderSettings.masterGainDb, 20);
    QCOMPARE(c().gainEdit->text(), QString("20"));
  }

  void durationFieldAcceptsRefusesAndBeeps() {
    type(c().durationEdit, "1,5");
    QCOMPARE(renderSettings.durationSeconds, 1.5f);
    QCOMPARE(c().durationEdit->text(), QString("1.5"));
    type(c().durationEdit, "0");
    QCOMPARE(renderSettings.durationSeconds, 0.02f);
    QCOMPARE(c().durationEdit->text(), QString("0.02"));
    type(c().durationEdit, "");
    QCOMPARE(c().durationEdit->text(), QString("0.02"));
    QCOMPARE(beeps_, 0);
    type(c().durationEdit, "1e3");
    QCOMPARE(renderSettings.durationSeconds, 1000.0f);
    for (const char* bad : {"2x", "-1", "2000000"}) {
      type(c().durationEdit, bad);
      QCOMPARE(renderSettings.durationSeconds, 1000.0f);
      QCOMPARE(c().durationEdit->text(), QString("1000"));
    }
    QCOMPARE(beeps_, 3);
    type(c().durationEdit, "1000000");
    QCOMPARE(renderSettings.durationSeconds, 1000000.0f);
    QCOMPARE(beeps_, 3);
  }

  void aFieldIsLeftOnlyWhenTheFocusMovesOn() {
    // A duration being typed stays as typed while the field's context menu
    // is up, and while another window is in front: no beep, no revert.
    QLineEdit* duration = c().durationEdit;
    duration->setFocus();
    duration->setText("2x");
    withContextMenu(duration, [&] {
      QCOMPARE(duration->text(), QString("2x"));
      QCOMPARE(beeps_, 0);
    });
    QWidget other;
    other.show();
    QApplication::setActiveWindow(&other);
    QVERIFY(QTest::qWaitForWindowActive(&other));
    QApplication::setActiveWindow(window_.get());
    QVERIFY(QTest::qWaitForWindowActive(window_.get()));
    QVERIFY(duration->hasFocus());
    QCOMPARE(duration->text(), QString("2x"));
    QCOMPARE(beeps_, 0);
    QCOMPARE(renderSettings.durationSeconds, 15.0f);
    // Moving on takes the value: here it is refused.
    c().exitButton->setFocus();
    QCOMPARE(beeps_, 1);
    QCOMPARE(duration->text(), QString("15"));
    duration->setFocus();
    duration->setText("4");
    withContextMenu(duration, [] {});
    QCOMPARE(renderSettings.durationSeconds, 15.0f);
    QTest::keyClick(duration, Qt::Key_Tab);
    QCOMPARE(renderSettings.durationSeconds, 4.0f);

    // An empty output field does not turn into "[Not selected]" under its
    // menu, and what is typed there survives the menu.
    QLineEdit* output = c().outputPathEdit;
    output->setFocus();
    QCOMPARE(output->text(), QString(""));
    withContextMenu(output, [&] { QCOMPARE(output->text(), QString("")); });
    QCOMPARE(output->text(), QString(""));
    output->setText("mine.wav");
    withContextMenu(output, [&] { QVERIFY(renderSettings.outputPath.empty()); });
    QCOMPARE(output->text(), QString("mine.wav"));
    QVERIFY(output->hasFocus());
    c().exitButton->setFocus();
    // Taken from the working folder, as nothing has been chosen yet.
    QCOMPARE(renderSettings.outputPath, (std::filesystem::current_path() / "mine.wav").string());
    QVERIFY(beeps_ == 1 && messages_->messages().empty());
  }

  void enterInAFieldAppliesItWithoutRendering() {
    TempDir dir;
    loadPicture(writePicture(dir, "p.png", 8, 100));
    renderSettings.outputPath = dir.file("out.wav");
    c().durationEdit->setFocus();
    c().durationEdit->selectAll();
    QTest::keyClicks(c().durationEdit, "3");
    QTest::keyClick(c().durationEdit, Qt::Key_Return);
    QCOMPARE(renderSettings.durationSeconds, 3.0f);
    QVERIFY(c().generateButton->hasFocus());
    QVERIFY(!fileExists(renderSettings.outputPath));
    QVERIFY(messages_->messages().empty());

    // Without a picture, Enter leads to "Load picture".
    window_.reset();
    resetWindowState();
    window_ = std::make_unique<MainWindow>();
    window_->show();
    QApplication::setActiveWindow(window_.get());
    QVERIFY(QTest::qWaitForWindowActive(window_.get()));
    c().gainEdit->setFocus();
    QTest::keyClicks(c().gainEdit, "0");
    QTest::keyClick(c().gainEdit, Qt::Key_Enter);
    QVERIFY(c().loadPictureButton->hasFocus());
    QCOMPARE(renderSettings.masterGainDb, 48);
  }

  void timePerLineFollowsPictureAndDuration() {
    TempDir dir;
    loadPicture(writePicture(dir, "tall.png", 20, 300));
    QVERIFY(c().timePerLineLabel->isVisible());
    QCOMPARE(c().timePerLineLabel->text(), QString("Time per picture line is 0.050 sec"));
    loadPicture(writePicture(dir, "mid.png", 20, 30));
    QCOMPARE(c().timePerLineLabel->text(), QString("Time per picture line is 0.50 sec"));
    loadPicture(writePicture(dir, "low.png", 20, 5));
    QCOMPARE(c().timePerLineLabel->text(), QString("Time per picture line is 3.0 sec"));
    type(c().durationEdit, "1");
    QCOMPARE(c().timePerLineLabel->text(), QString("Time per picture line is 0.20 sec"));
    // A wave source without a usable file hides it.
    c().waveFileRadio->click();
    QVERIFY(!c().timePerLineLabel->isVisible());
    QVERIFY(c().inputPathEdit->isVisible());
    QVERIFY(!c().durationEdit->isVisible());
    QVERIFY(messages_->messages().empty());
  }

  // Every change of a setting or a file brings everything that depends on
  // them up to date: here an input file rewritten with a longer sound shows
  // on the read-out and the time axis at the next change of any kind.
  void anyChangeRefreshesWhatDependsOnTheSettings() {
    TempDir dir;
    loadPicture(writePicture(dir, "ten.png", 20, 10));
    const std::string input = dir.file("in.wav");
    writeFile(input, waveBytes(pcm16Bytes(speechLike(44100, 8000)), 1, 16, 44100));
    c().waveFileRadio->click();
    type(c().inputPathEdit, QString::fromStdString(input));
    QCOMPARE(c().timePerLineLabel->text(), QString("Time per picture line is 0.100 sec"));
    const QImage oneSecond = c().timeAxisStrip->pixmap().toImage();

    writeFile(input, waveBytes(pcm16Bytes(speechLike(3 * 44100, 8000)), 1, 16, 44100));
    c().gainSlider->setValue(12);
    QCOMPARE(inputWaveDuration, 3.0f);
    QCOMPARE(c().timePerLineLabel->text(), QString("Time per picture line is 0.30 sec"));
    QVERIFY(c().timeAxisStrip->pixmap().toImage() != oneSecond);
    QVERIFY(messages_->messages().empty());
  }

  void impossibleSettingsRaiseTheirInternalErrors() {
    window_.reset();
    renderSettings.frequencyScale = static_cast<FrequencyScale>(7);
    renderSettings.blockLength = 1000;  // matches no frequency entry
    renderSettings.subBlocksPerBlock = 3;
    window_ = std::make_unique<MainWindow>();
    std::vector<std::string> texts;
    for (const ShownMessage& m : messages_->messages()) texts.push_back(m.text.substr(0, 18));
    QCOMPARE(texts, (std::vector<std::string>{"Internal error #01", "Internal error #02", "Internal error #02"}));
    QCOMPARE(c().scaleList->currentIndex(), -1);

    // A block length of 0 cannot be given sub-blocks.
    messages_->clear();
    renderSettings.blockLength = 0;
    deriveSubBlocks(*window_, true);
    QCOMPARE(messages_->messages().size(), std::size_t{1});
    QVERIFY(messages_->messages()[0].text.find("Internal error #04") == 0);
  }

  void closingTheWindowWhileEditingIsSafe() {
    for (int i = 0; i < 5; ++i) {
      QLineEdit* const edits[] = {c().durationEdit, c().gainEdit, c().rangeEdit, c().inputPathEdit, c().outputPathEdit};
      QLineEdit* edit = edits[i];
      c().rangeUpDown->setEnabled(true);
      edit->setEnabled(true);
      edit->setVisible(true);
      edit->setFocus();
      edit->setText("7");
      window_.reset();
      window_ = std::make_unique<MainWindow>();
      window_->show();
      QApplication::setActiveWindow(window_.get());
      QVERIFY(QTest::qWaitForWindowActive(window_.get()));
    }
  }
};

QTEST_MAIN(SettingsControlsTest)
#include "settings_controls_test.moc"
