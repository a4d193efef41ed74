// SPDX-License-Identifier: GPL-3.0-or-later
// Sine tones from the window: a staircase on notes renders its notes, the
// title line says when a render clipped and which gain avoids it, and the
// View menu names notes on the frequency axis and the template.
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>
#include <cmath>
#include <complex>
#include <functional>
#include <memory>

#include "engine/settings.h"
#include "files/messages.h"
#include "support/test_support.h"
#include "support/window_support.h"
#include "ui/main_window/main_window.h"
#include "ui/main_window/notes_choice.h"
#include "ui/main_window/options_dialog.h"
#include "ui/main_window/window_commands.h"
#include "ui/template/template_window.h"
#include "ui/view/view_menu.h"

using namespace vellomar;
using namespace vellomar::test;

namespace {

constexpr double kPi = 3.14159265358979323846;

// C3 D3 E3 F3 G3 A3 B3 C4 as columns of A1 ... A8 in semitones.
const int kSteps[8] = {15, 17, 19, 20, 22, 24, 26, 27};

std::complex<double> toneAt(const std::vector<std::int16_t>& x, std::size_t from, std::size_t count, double f) {
  std::complex<double> sum = 0.0;
  for (std::size_t i = 0; i < count; ++i) {
    const double w = 0.5 - 0.5 * std::cos(2.0 * kPi * static_cast<double>(i) / static_cast<double>(count - 1));
    const double angle = -2.0 * kPi * f * static_cast<double>(from + i) / 44100.0;
    sum += w * x[from + i] * std::complex<double>(std::cos(angle), std::sin(angle));
  }
  return sum;
}

}  // namespace

class TonesViewTest : public QObject {
  Q_OBJECT

  std::unique_ptr<MainWindow> window_;
  std::unique_ptr<MessageRecorder> messages_;
  std::unique_ptr<TempDir> dir_;

  const MainWindowControls& c() const { return window_->controls(); }

  void generate() {
    c().generateButton->click();
    QVERIFY(c().playButton->isEnabled());
    QApplication::setActiveWindow(window_.get());
  }

 private slots:
  void init() {
    resetWindowState();
    dir_ = std::make_unique<TempDir>();
    messages_ = std::make_unique<MessageRecorder>();
    const QString out = QString::fromStdString(dir_->file("out.wav"));
    setFileChooser([out](const FileRequest&) -> std::optional<QString> { return out; });
    setSoundPlayer([](const QString&) {});
    window_ = std::make_unique<MainWindow>();
    window_->show();
    QApplication::setActiveWindow(window_.get());
    QVERIFY(QTest::qWaitForWindowActive(window_.get()));
  }

  void cleanup() {
    window_.reset();
    setFileChooser(nullptr);
    setSoundPlayer(nullptr);
    messages_.reset();
    dir_.reset();
    resetWindowState();
  }

  // The staircase played from the window: each step loudest at its own
  // note, as on the command line; the title says nothing of clipping.
  void aStaircaseOnNotesPlaysItsNotes() {
    QImage stairs(85, 8, QImage::Format_RGB32);
    stairs.fill(Qt::black);
    for (int y = 0; y < 8; ++y) stairs.setPixel(kSteps[y], y, qRgb(255, 255, 255));
    const std::string picture = dir_->file("staircase.png");
    QVERIFY(stairs.save(QString::fromStdString(picture)));
    QVERIFY(loadPictureFile(*window_, picture));
    QTimer::singleShot(0, [] {
      auto* dialog = qobject_cast<OptionsDialog*>(QApplication::activeModalWidget());
      QVERIFY(dialog != nullptr);
      dialog->sineCheck()->setChecked(true);
      dialog->notes()->radio()->click();
      QTest::mouseClick(dialog->okButton(), Qt::LeftButton);
    });
    window_->findChild<QAction*>(QStringLiteral("optionsAction"))->trigger();
    QCOMPARE(renderSettings.inputSource, InputSource::SineTones);
    QApplication::setActiveWindow(window_.get());
    QVERIFY(QTest::qWaitForWindowActive(window_.get()));
    c().durationEdit->setText("2");
    c().durationEdit->setFocus();
    c().loadPictureButton->setFocus();
    generate();
    const std::vector<std::int16_t> x = waveSamples(renderSettings.outputPath);
    QCOMPARE(x.size(), std::size_t{88200});
    for (int step = 0; step < 8; ++step) {
      int loudest = -1;
      double best = 0.0;
      for (int column = 0; column < 85; ++column) {
        const double level = std::abs(toneAt(x, 11025 * step + 2756, 5512, 55.0 * std::pow(2.0, column / 12.0)));
        if (level > best) {
          best = level;
          loudest = column;
        }
      }
      QCOMPARE(loudest, kSteps[step]);
    }
    QCOMPARE(window_->windowTitle(), QString("Vellomar"));
  }

  void theTitleSaysWhenARenderClipped() {
    QImage white(40, 4, QImage::Format_RGB32);
    white.fill(Qt::white);
    const std::string path = dir_->file("white.png");
    QVERIFY(white.save(QString::fromStdString(path)));
    QVERIFY(loadPictureFile(*window_, path));
    c().gainEdit->setText("48");
    c().gainEdit->setFocus();
    c().durationEdit->setText("0.5");
    c().durationEdit->setFocus();
    c().loadPictureButton->setFocus();
    QCOMPARE(renderSettings.masterGainDb, 48);
    generate();
    const QString title = window_->windowTitle();
    QVERIFY2(title.startsWith("Vellomar - ") && title.contains(" samples clipped; a master gain of ") &&
                 title.endsWith(" dB would avoid it"),
             qPrintable(title));
    QCOMPARE(viewMenuOf(*window_)->renderNote(), title.mid(11));
    // Rendered again within that gain, the title is clear.
    const int gain = title.section("master gain of ", 1).section(' ', 0, 0).toInt();
    c().gainEdit->setText(QString::number(gain));
    c().gainEdit->setFocus();
    c().loadPictureButton->setFocus();
    generate();
    QCOMPARE(window_->windowTitle(), QString("Vellomar"));
  }

  void noteNamesOnTheAxisAndTheTemplate() {
    ViewMenu& view = *viewMenuOf(*window_);
    QAction* names = view.noteNamesAction();
    QVERIFY(names->isCheckable() && !names->isChecked());
    QCOMPARE(names->text(), QString("Note names on the frequency axis"));
    renderSettings.frequencyScale = FrequencyScale::Logarithmic;
    renderSettings.bandLowHz = 55.0f;
    renderSettings.bandHighHz = 7040.0f;
    names->trigger();  // redraws the axes
    QVERIFY(noteChoice.namesOnAxis);
    const QImage withNames = c().freqAxisStrip->pixmap().toImage();
    const QImage templateWithNames = drawTemplateRuler(500, 80);
    names->trigger();
    QVERIFY(!noteChoice.namesOnAxis);
    QVERIFY(c().freqAxisStrip->pixmap().toImage() != withNames);
    QVERIFY(drawTemplateRuler(500, 80) != templateWithNames);
  }
};

QTEST_MAIN(TonesViewTest)
#include "tones_view_test.moc"
