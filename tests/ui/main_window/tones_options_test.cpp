// SPDX-License-Identifier: GPL-3.0-or-later
// Sine tones and notes in the Options dialog: the window shows sine tones
// plainly in its source group, turning them off brings its own source
// back; notes set the Logarithmic scale and the band, say how wide the
// picture must be and where noise cannot tell semitones apart, and notes
// the scale cannot take are refused with the allowed range.
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTest>
#include <QTimer>
#include <functional>

#include "engine/settings.h"
#include "support/test_support.h"
#include "support/window_support.h"
#include "ui/main_window/main_window.h"
#include "ui/main_window/notes_choice.h"
#include "ui/main_window/options_dialog.h"

using namespace vellomar;
using namespace vellomar::test;

namespace {

// Opens the Options dialog from the window's menu and runs `whileOpen` on
// it (which must close it).
void withOptions(MainWindow& window, const std::function<void(OptionsDialog&)>& whileOpen) {
  bool seen = false;
  QTimer::singleShot(0, [&] {
    auto* dialog = qobject_cast<OptionsDialog*>(QApplication::activeModalWidget());
    QVERIFY(dialog != nullptr);
    seen = true;
    whileOpen(*dialog);
  });
  window.findChild<QAction*>(QStringLiteral("optionsAction"))->trigger();
  QVERIFY(seen);
}

}  // namespace

class TonesOptionsTest : public QObject {
  Q_OBJECT

 private slots:
  void init() { resetWindowState(); }
  void cleanup() { resetWindowState(); }

  void sineTonesShowPlainlyAndGiveTheWindowsSourceBack() {
    MainWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    const MainWindowControls& c = window.controls();
    c.whiteNoiseRadio->click();
    const QRect groupBefore = c.inputSourceGroup->geometry();

    withOptions(window, [](OptionsDialog& dialog) {
      QVERIFY(!dialog.sineCheck()->isChecked());
      QCOMPARE(dialog.sineCheck()->text(), QString("Sine tones: one per picture column"));
      dialog.sineCheck()->setChecked(true);
      QTest::mouseClick(dialog.okButton(), Qt::LeftButton);
    });
    QCOMPARE(renderSettings.inputSource, InputSource::SineTones);
    // The source group says so, greyed, where its buttons were; the
    // duration applies.
    QVERIFY(!c.inputSourceGroup->isEnabled());
    QCOMPARE(c.inputSourceGroup->geometry(), groupBefore);
    QVERIFY(c.sineSourceLabel->isVisible());
    QVERIFY(c.sineSourceLabel->isEnabled());
    QVERIFY(c.sineSourceLabel->text().contains("Sine tones"));
    QVERIFY(c.sineSourceLabel->text().contains("Options menu"));
    QVERIFY(groupBefore.contains(c.sineSourceLabel->geometry()));
    for (QRadioButton* radio : {c.whiteNoiseRadio, c.pinkNoiseRadio, c.waveFileRadio}) QVERIFY(!radio->isVisible());
    QVERIFY(c.durationEdit->isVisible());
    QVERIFY(!c.inputPathEdit->isVisible());

    withOptions(window, [](OptionsDialog& dialog) {
      QVERIFY(dialog.sineCheck()->isChecked());
      dialog.sineCheck()->setChecked(false);
      QTest::mouseClick(dialog.okButton(), Qt::LeftButton);
    });
    // White noise, as the window's buttons had it.
    QCOMPARE(renderSettings.inputSource, InputSource::WhiteNoise);
    QVERIFY(c.inputSourceGroup->isEnabled());
    QVERIFY(!c.sineSourceLabel->isVisible());
    QVERIFY(c.whiteNoiseRadio->isVisible() && c.whiteNoiseRadio->isChecked());
  }

  void notesSetTheLogarithmicBandAndSayWhatTheyNeed() {
    MainWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    const MainWindowControls& c = window.controls();
    withOptions(window, [](OptionsDialog& dialog) {
      NotesChoice& notes = *dialog.notes();
      QVERIFY(dialog.hertzRadio()->isChecked());
      QVERIFY(!notes.lowestEdit()->isEnabled());
      notes.radio()->click();
      QVERIFY(notes.lowestEdit()->isEnabled());
      QVERIFY(!dialog.lowEdit()->isEnabled());
      QCOMPARE(notes.lowestEdit()->text(), QString("A1"));
      QCOMPARE(notes.highestEdit()->text(), QString("A8"));
      QCOMPARE(notes.widthLabel()->text(), QString("The picture must be 85 columns wide."));
      // A1 is below what 5.38 Hz bins tell apart.
      QCOMPARE(notes.granularityLabel()->text(),
               QString("Below F#2 (92.5 Hz) the frequency granularity of 5.38 Hz cannot tell neighbouring semitones "
                       "apart for noise or a wave file; sine tones keep them apart."));
      QCOMPARE(notes.limitsLabel()->text(),
               QString("Allowed: C0 ... E10 at A4 = 440 Hz, the lowest note below the highest and at least 5.39 Hz "
                       "from it."));
      notes.lowestEdit()->setText("A3");
      notes.columnsSpin()->setValue(3);
      QCOMPARE(notes.widthLabel()->text(), QString("The picture must be 181 columns wide."));
      QCOMPARE(notes.granularityLabel()->text(), QString());
      notes.a4Edit()->setText("432");
      QTest::mouseClick(dialog.okButton(), Qt::LeftButton);
    });
    QCOMPARE(renderSettings.frequencyScale, FrequencyScale::Logarithmic);
    QCOMPARE(renderSettings.bandLowHz, 216.0f);
    QCOMPARE(renderSettings.bandHighHz, 6912.0f);
    QCOMPARE(c.scaleList->currentText(), QString("Logarithmic"));
    QCOMPARE(noteChoice.lowest, 57);
    QCOMPARE(noteChoice.highest, 117);
    QCOMPARE(noteChoice.columnsPerSemitone, 3);
    QCOMPARE(noteChoice.a4Hz, 432.0);

    // Opened again it shows the notes; a band in hertz leaves them.
    withOptions(window, [](OptionsDialog& dialog) {
      QVERIFY(dialog.notes()->radio()->isChecked());
      QCOMPARE(dialog.notes()->lowestEdit()->text(), QString("A3"));
      QCOMPARE(dialog.notes()->a4Edit()->text(), QString("432"));
      dialog.hertzRadio()->click();
      dialog.lowEdit()->setText("100");
      QTest::mouseClick(dialog.okButton(), Qt::LeftButton);
    });
    QCOMPARE(renderSettings.bandLowHz, 100.0f);
    withOptions(window, [](OptionsDialog& dialog) {
      QVERIFY(dialog.hertzRadio()->isChecked());
      dialog.reject();
    });
  }

  void refusedNotesSayTheAllowedRangeAndChangeNothing() {
    struct Case {
      const char* lowest;
      const char* highest;
      const char* a4;
      const char* text;
      bool lowestAtFault;
    };
    const std::string allowed =
        "C0 ... E10 at A4 = 440 Hz, the lowest note below the highest and at least 5.39 Hz from it.";
    const Case cases[] = {
        {"H2", "A8", "440", "'H2' is not a note such as A1 or C#4.\nThe notes must lie within ", true},
        {"A1", "", "440", "'' is not a note such as A1 or C#4.\nThe notes must lie within ", false},
        {"A8", "A1", "440", "The notes A8 ... A1 cannot be used.\nThey must lie within ", false},
        {"B-1", "A1", "440", "The notes B-1 ... A1 cannot be used.\nThey must lie within ", true},
        {"A1", "F10", "440", "The notes A1 ... F10 cannot be used.\nThey must lie within ", false},
        {"A1", "A8", "300", "'300' is not a tuning for A4.\nA4 must lie within 380 ... 500 Hz.", false},
    };
    for (const Case& c : cases) {
      resetWindowState();
      MessageRecorder messages;
      OptionsDialog dialog(nullptr);
      dialog.show();
      QVERIFY(QTest::qWaitForWindowExposed(&dialog));
      NotesChoice& notes = *dialog.notes();
      notes.radio()->click();
      notes.lowestEdit()->setText(c.lowest);
      notes.highestEdit()->setText(c.highest);
      notes.a4Edit()->setText(c.a4);
      QTest::mouseClick(dialog.okButton(), Qt::LeftButton);
      std::string want = c.text;
      if (want.back() == ' ') want += allowed;
      QCOMPARE(messages.only().text, want);
      QVERIFY(dialog.isVisible());
      QCOMPARE(renderSettings.frequencyScale, FrequencyScale::Mel);
      QCOMPARE(renderSettings.bandLowHz, 0.0f);
      QLineEdit* fault = std::string(c.a4) != "440" ? notes.a4Edit()
                         : c.lowestAtFault          ? notes.lowestEdit()
                                                    : notes.highestEdit();
      QCOMPARE(dialog.focusWidget(), static_cast<QWidget*>(fault));
      dialog.reject();
    }
  }
};

QTEST_MAIN(TonesOptionsTest)
#include "tones_options_test.moc"
