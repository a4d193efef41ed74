// SPDX-License-Identifier: GPL-3.0-or-later
// The Options menu and dialog: stereo and the frequency band are taken
// into the settings on OK, refused bands are told with their allowed range
// and leave the settings as they were, and the axes follow the band.
#include "ui/main_window/options_dialog.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <functional>
#include <limits>

#include "engine/settings.h"
#include "ui/common/app_state.h"
#include "support/test_support.h"
#include "support/window_support.h"
#include "ui/main_window/main_window.h"

using namespace vellomar;
using namespace vellomar::test;

namespace {

// Runs `whileOpen` on the Options dialog once it is up (it must close it).
void whenOptionsOpen(const std::function<void(OptionsDialog&)>& whileOpen) {
  QTimer::singleShot(0, [whileOpen] {
    auto* dialog = qobject_cast<OptionsDialog*>(QApplication::activeModalWidget());
    QVERIFY(dialog != nullptr);
    whileOpen(*dialog);
  });
}

}  // namespace

class OptionsDialogTest : public QObject {
  Q_OBJECT

 private slots:
  void init() { resetWindowState(); }
  void cleanup() { resetWindowState(); }

  void theMenuOpensTheDialogAndOkTakesStereoAndTheBand() {
    MainWindow window;
    auto* menu = window.findChild<QMenu*>(QStringLiteral("optionsMenu"));
    QVERIFY(menu != nullptr);
    QCOMPARE(menu->title(), QString("&Options"));
    auto* action = menu->findChild<QAction*>(QStringLiteral("optionsAction"));
    QVERIFY(action != nullptr && menu->actions().contains(action));
    const QImage before = window.controls().freqAxisStrip->pixmap().toImage();

    bool seen = false;
    whenOptionsOpen([&](OptionsDialog& dialog) {
      seen = true;
      QCOMPARE(dialog.windowTitle(), QString("Options"));
      QCOMPARE(dialog.parentWidget(), static_cast<QWidget*>(&window));
      QCOMPARE(dialog.stereoCheck()->text(), QString("Stereo (red = left, green = right)"));
      QVERIFY(!dialog.stereoCheck()->isChecked());
      // The scale's own band, as numbers.
      QCOMPARE(dialog.lowEdit()->text(), QString("16"));
      QCOMPARE(dialog.highEdit()->text(), QString("22050"));
      QCOMPARE(dialog.limitsLabel()->text(),
               QString("Allowed: 16 ... 22050 Hz on the Mel scale, the lowest frequency at least 5.39 Hz below "
                       "the highest."));
      dialog.stereoCheck()->setChecked(true);
      dialog.lowEdit()->setText("5000");
      dialog.highEdit()->setText(" 15000,5 ");
      QTest::mouseClick(dialog.okButton(), Qt::LeftButton);
    });
    action->trigger();
    QVERIFY(seen);
    QVERIFY(renderSettings.stereo);
    QCOMPARE(renderSettings.bandLowHz, 5000.0f);
    QCOMPARE(renderSettings.bandHighHz, 15000.5f);
    // The frequency axis shows the band now.
    QVERIFY(window.controls().freqAxisStrip->pixmap().toImage() != before);

    // Opened again, it shows what was taken.
    whenOptionsOpen([](OptionsDialog& dialog) {
      QVERIFY(dialog.stereoCheck()->isChecked());
      QCOMPARE(dialog.lowEdit()->text(), QString("5000"));
      QCOMPARE(dialog.highEdit()->text(), QString("15000.5"));
      dialog.lowEdit()->setText("100");
      QTest::mouseClick(dialog.cancelButton(), Qt::LeftButton);
    });
    action->trigger();
    QCOMPARE(renderSettings.bandLowHz, 5000.0f);
  }

  // The scale's own ends typed back are kept as "the scale's own", so the
  // band follows a change of scale as the defaults do.
  void theScalesOwnEndsStayTheScalesOwn() {
    renderSettings.frequencyScale = FrequencyScale::Linear;
    renderSettings.bandLowHz = 300.0f;
    renderSettings.bandHighHz = 3000.0f;
    OptionsDialog dialog(nullptr);
    dialog.lowEdit()->setText("0");
    dialog.highEdit()->setText("22050");
    dialog.accept();
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    QCOMPARE(renderSettings.bandLowHz, 0.0f);
    QCOMPARE(renderSettings.bandHighHz, 0.0f);
    renderSettings.frequencyScale = FrequencyScale::Logarithmic;
    OptionsDialog again(nullptr);
    QCOMPARE(again.lowEdit()->text(), QString("16"));
    QCOMPARE(again.limitsLabel()->text(),
             QString("Allowed: 16 ... 22050 Hz on the Logarithmic scale, the lowest frequency at least 5.39 Hz "
                     "below the highest."));
  }

  // The classic reader and a 16-bit 44100 Hz WAV until chosen otherwise;
  // OK takes the choices, Cancel leaves them.
  void fileOptionsAreOffByDefaultAndTakenOnOk() {
    OptionsDialog dialog(nullptr);
    QCOMPARE(dialog.anyAudioCheck()->text(), QString("Read any audio file (converted to 44100 Hz)"));
    QVERIFY(!dialog.anyAudioCheck()->isChecked());
    QCOMPARE(dialog.formatList()->currentText(), QString("WAV, 16-bit"));
    QCOMPARE(dialog.formatList()->count(), 5);
    QCOMPARE(dialog.rateList()->currentText(), QString("44100 Hz"));
    QCOMPARE(dialog.rateList()->count(), 4);
    dialog.anyAudioCheck()->setChecked(true);
    dialog.formatList()->setCurrentText("FLAC, 24-bit");
    dialog.rateList()->setCurrentText("96000 Hz");
    dialog.accept();
    QVERIFY(fileOptions.input.anyAudio);
    QVERIFY(fileOptions.output.kind == OutputKind::Flac24);
    QCOMPARE(fileOptions.output.rate, 96000u);

    OptionsDialog again(nullptr);
    QVERIFY(again.anyAudioCheck()->isChecked());
    QCOMPARE(again.formatList()->currentText(), QString("FLAC, 24-bit"));
    again.formatList()->setCurrentText("WAV, 32-bit float");
    again.reject();
    QVERIFY(fileOptions.output.kind == OutputKind::Flac24);
  }

  void refusedBandsSayTheAllowedRangeAndKeepThePreviousValues() {
    struct Case {
      FrequencyScale scale;
      std::int32_t blockLength;
      const char* low;
      const char* high;
      bool lowAtFault;
      const char* text;
    };
    const char* const kMel =
        "16 ... 22050 Hz on the Mel scale, the lowest frequency at least 5.39 Hz below the highest.";
    const Case cases[] = {
        {FrequencyScale::Mel, 8192, "10", "22050", true,
         "The frequency band 10 ... 22050 Hz cannot be used.\nIt must lie within "},
        {FrequencyScale::Mel, 8192, "5000", "4000", false,
         "The frequency band 5000 ... 4000 Hz cannot be used.\nIt must lie within "},
        {FrequencyScale::Mel, 8192, "5000", "5000", false,
         "The frequency band 5000 ... 5000 Hz cannot be used.\nIt must lie within "},
        {FrequencyScale::Mel, 8192, "5000", "5005", false,
         "The frequency band 5000 ... 5005 Hz cannot be used.\nIt must lie within "},
        {FrequencyScale::Mel, 8192, "100", "30000", false,
         "The frequency band 100 ... 30000 Hz cannot be used.\nIt must lie within "},
        {FrequencyScale::Mel, 8192, "abc", "2000", true,
         "'abc' is not a frequency in hertz.\nThe frequency band must lie within "},
        {FrequencyScale::Mel, 8192, "100", "2k", false,
         "'2k' is not a frequency in hertz.\nThe frequency band must lie within "},
        {FrequencyScale::Mel, 8192, "nan", "2000", true,
         "'nan' is not a frequency in hertz.\nThe frequency band must lie within "},
        {FrequencyScale::Mel, 8192, "100", "", false,
         "The highest frequency of the band is missing.\nIt must lie within "},
        {FrequencyScale::Linear, 2048, "1000", "1020", false,
         "The frequency band 1000 ... 1020 Hz cannot be used.\nIt must lie within 0 ... 22050 Hz on the Linear "
         "scale, the lowest frequency at least 21.54 Hz below the highest."},
        {FrequencyScale::Linear, 8192, "-1", "1020", true,
         "The frequency band -1 ... 1020 Hz cannot be used.\nIt must lie within 0 ... 22050 Hz on the Linear "
         "scale, the lowest frequency at least 5.39 Hz below the highest."},
    };
    for (const Case& c : cases) {
      const QByteArray trace = QByteArray(c.low) + " ... " + c.high;
      resetWindowState();
      renderSettings.frequencyScale = c.scale;
      renderSettings.blockLength = c.blockLength;
      renderSettings.bandLowHz = 300.0f;
      renderSettings.bandHighHz = 9000.0f;
      MessageRecorder messages;
      OptionsDialog dialog(nullptr);
      dialog.show();
      QVERIFY(QTest::qWaitForWindowExposed(&dialog));
      dialog.stereoCheck()->setChecked(true);
      dialog.lowEdit()->setText(c.low);
      dialog.highEdit()->setText(c.high);
      QTest::mouseClick(dialog.okButton(), Qt::LeftButton);

      const ShownMessage shown = messages.only();
      std::string want = c.text;
      if (want.back() == ' ') want += kMel;
      QVERIFY2(shown.text == want, (trace + ": " + QByteArray::fromStdString(shown.text)).constData());
      QCOMPARE(shown.caption, std::string("Vellomar: ERROR"));
      // Still open, the settings as they were, the field at fault ready to
      // be corrected.
      QVERIFY2(dialog.isVisible(), trace.constData());
      QCOMPARE(renderSettings.bandLowHz, 300.0f);
      QCOMPARE(renderSettings.bandHighHz, 9000.0f);
      QVERIFY(!renderSettings.stereo);
      QLineEdit* fault = c.lowAtFault ? dialog.lowEdit() : dialog.highEdit();
      QVERIFY2(dialog.focusWidget() == fault, trace.constData());
      QCOMPARE(fault->selectedText(), fault->text());
      dialog.reject();
    }
  }

  void frequencyFieldsReadNumbersOnly() {
    struct Case {
      const char* text;
      float value;  // NaN: refused
    };
    const float refused = std::numeric_limits<float>::quiet_NaN();
    const Case cases[] = {{"5000", 5000.0f}, {"5000,5", 5000.5f}, {" 16 ", 16.0f},  {"1e3", 1000.0f},
                          {"0", 0.0f},       {"", refused},       {"abc", refused}, {"5000 Hz", refused},
                          {"nan", refused},  {"inf", refused},    {"1e40", refused}};
    for (const Case& c : cases) {
      const std::optional<float> got = frequencyFromText(c.text);
      if (std::isnan(c.value)) {
        QVERIFY2(!got, c.text);
      } else {
        QVERIFY2(got && *got == c.value, c.text);
      }
    }
    QCOMPARE(formatFrequency(22050.0f), std::string("22050"));
    QCOMPARE(formatFrequency(5000.5f), std::string("5000.5"));
  }
};

QTEST_MAIN(OptionsDialogTest)
#include "options_dialog_test.moc"
