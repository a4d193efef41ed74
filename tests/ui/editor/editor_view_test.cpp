// SPDX-License-Identifier: GPL-3.0-or-later
// The editor's view and what it says: zoom around the pointer and its
// limits, the status line's read-outs at known points, the rulers on the
// render's own mapping, a picture too big to edit, a new picture of a size
// that cannot be made, the clipboard, the spectrogram underneath and
// playing the selection alone.
#include <QAction>
#include <QClipboard>
#include <QLabel>
#include <QMimeData>
#include <QSignalSpy>
#include <QSpinBox>
#include <QStatusBar>
#include <QDoubleSpinBox>
#include <QRadioButton>
#include <QLineEdit>
#include <QRegularExpression>
#include <cmath>

#include "editor_support.h"
#include "engine/analysis.h"
#include "ui/common/app_state.h"
#include "ui/common/input_decode.h"
#include "ui/editor/audition.h"
#include "ui/editor/editor_dialogs.h"
#include "ui/editor/editor_memory.h"
#include "ui/editor/editor_rulers.h"
#include "ui/editor/readouts.h"
#include "ui/axes/axes.h"

using namespace vellomar;
using namespace vellomar::test;

namespace {

void wheel(QWidget* target, QPoint at, int delta, Qt::KeyboardModifiers modifiers) {
  QWheelEvent event(QPointF(at), QPointF(target->mapToGlobal(at)), QPoint(), QPoint(0, delta), Qt::NoButton, modifiers,
                    Qt::NoScrollPhase, false);
  QApplication::sendEvent(target, &event);
}

}  // namespace

class EditorViewTest : public QObject, public EditorFixture {
  Q_OBJECT

 private slots:
  void cleanup() {
    close();
    setEditorMemoryBudget(0);
    setAuditionPlayer(nullptr);
  }

  // Ctrl+wheel zooms keeping the picture point under the pointer where it
  // is, up to 3200% and no further; fit shows the whole picture; 1:1 is 100%.
  void zoomKeepsThePointUnderThePointer() {
    // Larger than the view from the start: a picture smaller than the view
    // stands in its middle.
    open(blankPicture(3000, 2000), 1.0);
    const QPoint pointer(90, 70);
    const QPointF under = canvas().toPicture(QPointF(pointer));
    QPointF before = under;
    for (int i = 0; i < 30; ++i) {
      wheel(viewport(), pointer, 120, Qt::ControlModifier);
      // Scroll positions are whole pixels: a step moves the point by less
      // than one of them, and all the steps together by less than a
      // picture pixel.
      const QPointF now = canvas().toPicture(QPointF(pointer));
      QVERIFY2(std::fabs(now.x() - before.x()) <= 1.0 / canvas().zoom() + 1e-9 &&
                   std::fabs(now.y() - before.y()) <= 1.0 / canvas().zoom() + 1e-9 &&
                   std::fabs(now.x() - under.x()) < 1.0 && std::fabs(now.y() - under.y()) < 1.0,
               qPrintable(QStringLiteral("zoom %1: %2, %3").arg(canvas().zoom()).arg(now.x()).arg(now.y())));
      before = now;
    }
    QCOMPARE(canvas().zoom(), EditorCanvas::kMaxZoom);
    editor->action("zoomFitAction")->trigger();
    const QRectF whole = canvas().pictureRect();
    QVERIFY(QRectF(viewport()->rect()).contains(whole));
    QVERIFY(whole.width() >= viewport()->width() - 20 || whole.height() >= viewport()->height() - 20);
    editor->action("zoomActualAction")->trigger();
    QCOMPARE(canvas().zoom(), 1.0);
    for (int i = 0; i < 30; ++i) editor->action("zoomOutAction")->trigger();
    QCOMPARE(canvas().zoom(), canvas().minZoom());
    // A plain wheel scrolls instead.
    canvas().setZoom(8.0);
    const double zoom = canvas().zoom();
    wheel(viewport(), pointer, -120, Qt::NoModifier);
    QCOMPARE(canvas().zoom(), zoom);
  }

  // The status line reads out, under the pointer, the time and frequency
  // where the render places that row and column, the pixel and its
  // brightness, the red and green in stereo, and the note on the
  // Logarithmic scale.
  void theStatusLineReadsOutThePointUnderThePointer() {
    // 15 s over 61 rows: row r sounds at r / 4 s.
    open(pictureOf(1001, 61, [](std::uint32_t x, std::uint32_t) {
      return x == 458 ? Rgb{255, 0, 0} : Rgb{10, 20, 30};
    }), 0.5);
    renderSettings.frequencyScale = FrequencyScale::Linear;
    moveTo(500.5, 20.5);
    // Column 500 of 1001 on the Linear scale: 500 / 1000 * 22050 Hz.
    QCOMPARE(editor->readout()->text(),
             QStringLiteral("Time 5.000 s   Frequency 11.025 kHz   Pixel 500, 20   Brightness 18"));
    renderSettings.frequencyScale = FrequencyScale::Logarithmic;
    renderSettings.stereo = true;
    moveTo(458.5, 40.5);
    const double hz = 16.0 * std::pow(22050.0 / 16.0, 458.0 / 1000.0);
    const QString text = editor->readout()->text();
    QVERIFY2(text.startsWith(QStringLiteral("Time 10.000 s   Frequency %1 Hz (A4").arg(hz, 0, 'f', 1)), qPrintable(text));
    QVERIFY2(text.endsWith(QStringLiteral("Pixel 458, 40   Brightness 77   Red 255 (left)   Green 0 (right)")), qPrintable(text));
    // Off the picture: nothing.
    moveTo(-5, -5);
    QVERIFY(editor->readout()->text().isEmpty());
    QCOMPARE(defaultNoteName(440.0), QStringLiteral("A4"));
    QCOMPARE(defaultNoteName(261.6256), QStringLiteral("C4"));
    QCOMPARE(defaultNoteName(440.0 * std::pow(2.0, 0.25 / 12)), QStringLiteral("A4 +25 ct"));
  }

  // A click on the time ruler asks to play from the time it points at, as
  // the preview's time axis does: its fraction of the picture's height,
  // at any zoom; the frequency ruler does not.
  void aClickOnTheTimeRulerPlaysFromThere() {
    open(blankPicture(64, 100), 1.0);
    QSignalSpy clicked(editor->timeRuler(), &EditorRuler::timeClicked);
    const auto clickAtRow = [this](double row) {
      const QPoint origin = viewport()->mapTo(editor, QPoint()) - editor->timeRuler()->mapTo(editor, QPoint());
      const int y = origin.y() + static_cast<int>(std::lround(canvas().toViewport(QPointF(0, row)).y()));
      QTest::mouseClick(editor->timeRuler(), Qt::LeftButton, Qt::NoModifier, QPoint(10, y));
    };
    for (const double zoom : {0.0, 4.0}) {
      if (zoom > 0.0) {
        canvas().setZoom(zoom);
      } else {
        editor->action("zoomFitAction")->trigger();
      }
      QApplication::processEvents();
      clicked.clear();
      clickAtRow(canvas().toPicture(QPointF(0, viewport()->height() / 2)).y());
      QCOMPARE(clicked.size(), 1);
      const double expected = canvas().toPicture(QPointF(0, viewport()->height() / 2)).y() / 100.0;
      QVERIFY2(std::fabs(clicked.at(0).at(0).toDouble() - expected) <= 1.0 / (100.0 * canvas().zoom()) + 1e-9,
               qPrintable(QStringLiteral("%1 against %2").arg(clicked.at(0).at(0).toDouble()).arg(expected)));
    }
    editor->action("zoomFitAction")->trigger();
    QApplication::processEvents();
    clicked.clear();
    clickAtRow(25.0);
    QCOMPARE(clicked.size(), 1);
    QVERIFY(std::fabs(clicked.at(0).at(0).toDouble() - 0.25) <= 0.01);
    QTest::mouseClick(editor->frequencyRuler(), Qt::LeftButton, Qt::NoModifier, QPoint(20, 10));
    QCOMPARE(clicked.size(), 1);
  }

  // The frequency ruler puts its ticks where the render places their
  // frequencies on the picture; zoomed far in it still has ticks, closer
  // together in hertz.
  void theRulersFollowTheRendersMapping() {
    open(blankPicture(1001, 40), 1.0);
    renderSettings.frequencyScale = FrequencyScale::Linear;
    editor->action("zoomFitAction")->trigger();
    QApplication::processEvents();
    editor->frequencyRuler()->repaint();
    const RulerGeometry& fit = editor->frequencyRuler()->geometry();
    QVERIFY(fit.drawn);
    const auto labelled = [](const RulerGeometry& g, const std::string& text) -> const RulerText* {
      for (const RulerText& t : g.texts) if (t.text == text) return &t;
      return nullptr;
    };
    const RulerText* tenK = labelled(fit, "10k");
    QVERIFY(tenK != nullptr);
    // 10 kHz sounds at position 10000 / 22050 * 1000, the centre of its column.
    const QPoint origin = viewport()->mapTo(editor, QPoint()) - editor->frequencyRuler()->mapTo(editor, QPoint());
    const double x = origin.x() + canvas().toViewport(QPointF(10000.0 / 22050.0 * 1000.0 + 0.5, 0)).x();
    QVERIFY2(std::fabs(tenK->x - x) <= 1.0, qPrintable(QStringLiteral("%1 against %2").arg(tenK->x).arg(x)));
    canvas().setZoom(EditorCanvas::kMaxZoom);
    editor->frequencyRuler()->repaint();
    const RulerGeometry& close = editor->frequencyRuler()->geometry();
    QVERIFY(close.drawn && close.lines.size() >= 4);
    // And the time ruler runs from the first row's centre.
    const RulerSpec time = editorTimeRuler(15.0f, 61, 0.5, 60.5, 0, 600, 60);
    QCOMPARE(time.from, 0.0f);
    QCOMPARE(time.to, 15.0f);
  }

  // On a screen of two device pixels a pixel, a picture shown at 75% still
  // has more than one device pixel to each of its pixels: it is drawn
  // sharp, every device pixel black or white, none blended between.
  void aDenseScreenShowsThePictureSharp() {
    open(pictureOf(200, 150, [](std::uint32_t x, std::uint32_t) { return x % 2 ? Rgb{255, 255, 255} : Rgb{}; }), 0.75);
    const QRect shown = canvas().pictureRect().toAlignedRect().intersected(viewport()->rect()).adjusted(2, 2, -2, -2);
    QImage image(viewport()->size() * 2, QImage::Format_RGB32);
    image.setDevicePixelRatio(2.0);
    viewport()->render(&image);
    int blended = 0;
    for (int y = shown.top() * 2; y < shown.bottom() * 2; y += 7) {
      for (int x = shown.left() * 2; x < shown.right() * 2; ++x) {
        const int v = qRed(image.pixel(x, y));
        blended += v != 0 && v != 255;
      }
    }
    QCOMPARE(blended, 0);
    // Far out, where a pixel is less than a device pixel, it is smoothed.
    canvas().setZoom(0.25);
    viewport()->render(&image);
    const QPointF middle = canvas().pictureRect().center() * 2;
    const int v = qRed(image.pixel(middle.toPoint()));
    QVERIFY2(v > 40 && v < 215, qPrintable(QString::number(v)));
  }

  // At fit the frequency ruler labels the band's two ends as the preview's
  // axis does, on every scale and on a chosen band; zoomed into the middle
  // it has no end marks, the ends being out of view.
  void theFrequencyRulerLabelsTheBandsEnds() {
    open(blankPicture(1001, 40), 1.0);
    const auto endLabels = [](const RulerGeometry& g) {
      // End labels stand below the end marks, lower than the tick labels.
      std::vector<std::string> out;
      for (const RulerText& t : g.texts) if (t.y > 20) out.push_back(t.text);
      return out;
    };
    const FrequencyScale scales[] = {FrequencyScale::Linear, FrequencyScale::Logarithmic, FrequencyScale::Mel};
    for (const bool chosenBand : {false, true}) {
      for (const FrequencyScale scale : scales) {
        renderSettings.frequencyScale = scale;
        if (chosenBand) {
          renderSettings.bandLowHz = 300.0f;
          renderSettings.bandHighHz = 9000.0f;
        }
        editor->action("zoomFitAction")->trigger();
        QApplication::processEvents();
        editor->frequencyRuler()->repaint();
        const TextMeasurer measure = rulerMeasurer(rulerFont(), editor->frequencyRuler());
        const FrequencyAxis preview = frequencyAxisSpec(renderSettings, 600, measure);
        const RulerGeometry axis =
            preview.logarithmic ? layoutLogRuler(preview.spec, measure) : layoutLinearRuler(preview.spec, measure);
        const std::vector<std::string> ends = endLabels(editor->frequencyRuler()->geometry());
        const QString which = QStringLiteral("scale %1, band %2").arg(static_cast<int>(scale)).arg(chosenBand);
        QVERIFY2(ends.size() == 2, qPrintable(which));
        // No tick label reaches an end mark.
        for (const RulerText& t : editor->frequencyRuler()->geometry().texts) {
          if (t.y > 20) continue;
          const int half = measure(t.text).width / 2;
          for (const RulerLine& l : editor->frequencyRuler()->geometry().lines) {
            if (l.y2 < 20) continue;
            QVERIFY2(std::abs(t.x - l.x1) > half + 1, qPrintable(which + ": " + QString::fromStdString(t.text)));
          }
        }
        QVERIFY2(ends == endLabels(axis), qPrintable(which + ": " + QString::fromStdString(ends.front() + " " + ends.back())));
      }
    }
    renderSettings = RenderSettings{};
    renderSettings.frequencyScale = FrequencyScale::Linear;
    editor->action("zoomFitAction")->trigger();
    QApplication::processEvents();
    editor->frequencyRuler()->repaint();
    QCOMPARE(endLabels(editor->frequencyRuler()->geometry()), (std::vector<std::string>{"0", "22.05k"}));
    canvas().setZoom(4.0, QPointF(viewport()->width() / 2.0, 10));
    editor->frequencyRuler()->repaint();
    QVERIFY(editor->frequencyRuler()->geometry().drawn);
    QVERIFY(endLabels(editor->frequencyRuler()->geometry()).empty());
  }

  // With "Note names on the frequency axis" on, the Logarithmic ruler names
  // notes as the preview's axis does, in both windows at once; off, or on
  // another scale, it shows hertz.
  void theFrequencyRulerNamesNotesWhenTheAxisDoes() {
    open(blankPicture(800, 40), 1.0);
    renderSettings.frequencyScale = FrequencyScale::Logarithmic;
    editor->action("zoomFitAction")->trigger();
    QApplication::processEvents();
    const auto noteLabels = [this](bool repaint = true) {
      if (repaint) editor->frequencyRuler()->repaint();
      int n = 0;
      for (const RulerText& t : editor->frequencyRuler()->geometry().texts) {
        n += QRegularExpression(QStringLiteral("^[A-G]#?-?[0-9]+$")).match(QString::fromStdString(t.text)).hasMatch();
      }
      return n;
    };
    QCOMPARE(noteLabels(), 0);
    QAction* names = window->findChild<QAction*>(QStringLiteral("noteNamesAction"));
    QVERIFY(names != nullptr);
    names->trigger();
    QVERIFY(noteChoice.namesOnAxis);
    // The View menu's switch repaints the editor's ruler by itself.
    QTRY_VERIFY(noteLabels(false) >= 3);
    const TextMeasurer measure = rulerMeasurer(rulerFont(), editor->frequencyRuler());
    const EditorFrequencyAxis shown = layoutEditorFrequencyRuler(renderSettings, 800, 0.5, 799.5, 0, 700, 440.0, measure);
    QCOMPARE(shown.title, frequencyAxisTitle(440.0));
    renderSettings.frequencyScale = FrequencyScale::Mel;
    QCOMPARE(noteLabels(), 0);
    const EditorFrequencyAxis mel = layoutEditorFrequencyRuler(renderSettings, 800, 0.5, 799.5, 0, 700, 440.0, measure);
    QCOMPARE(mel.title, kFrequencyAxisTitle);
  }

  // A picture bigger than the editor's memory budget opens read-only, with
  // a message that says why; its tools do nothing, but it can be looked at.
  void aPictureTooBigToEditOpensReadOnly() {
    setEditorMemoryBudget(std::uint64_t{64} << 20);  // about 2 million pixels
    open(blankPicture(2000, 1500), 0.25);
    QTRY_VERIFY(!messages->messages().empty());
    const ShownMessage shown = messages->messages().front();
    QCOMPARE(shown.caption, std::string("Read-only picture"));
    QVERIFY2(shown.text.find("2000 x 1500") != std::string::npos && shown.text.find("read-only") != std::string::npos,
             shown.text.c_str());
    QVERIFY(editor->readOnly());
    QVERIFY(!document().isEditable());
    QVERIFY(!editor->toolAction(Tool::Brush)->isEnabled());
    QVERIFY(editor->toolAction(Tool::Select)->isChecked());
    QVERIFY(editor->windowTitle().contains("read-only"));
    QVERIFY(!editor->action("pasteAction")->isEnabled());
    editor->tools().settings().tool = Tool::Brush;
    click(100.5, 100.5);
    QCOMPARE(pixel(100, 100), (Rgb{0, 0, 0}));
    QCOMPARE(document().undoStack().count(), 0);
  }

  // A new picture: by pixels, or by columns and seconds (the rows from the
  // time granularity, the duration set); a size that cannot be made is
  // refused with the sizes that can.
  void aNewPictureOfAnImpossibleSizeIsRefused() {
    open(blankPicture(8, 8));
    NewPictureDialog dialog(8192.0 / (4 * 44100.0), editor);
    dialog.widthField()->setValue(2000000);
    dialog.heightField()->setValue(10);
    dialog.accept();
    QCOMPARE(dialog.result(), 0);
    const ShownMessage refused = messages->only();
    QVERIFY2(refused.text.find("2000000 x 10") != std::string::npos && refused.text.find("1 ... ") != std::string::npos,
             refused.text.c_str());
    QVERIFY(!newPictureSizeAllowed(0, 10));
    QVERIFY(newPictureSizeAllowed(512, 512));
    dialog.secondsChoice()->setChecked(true);
    dialog.columnsField()->setValue(300);
    dialog.secondsField()->setValue(10.0);
    const NewPictureRequest request = dialog.request();
    QCOMPARE(request.width, std::uint64_t{300});
    QCOMPARE(request.height, std::uint64_t{216});  // 10 s / 0.04644 s + 1
    QVERIFY(request.seconds && *request.seconds == 10.0);
  }

  // Paste takes an image from the system clipboard to the selection's
  // corner; a clipboard without one changes nothing and says so. Copy puts
  // the selection there as an image.
  void theClipboardCarriesImagesOnly() {
    open(pictureOf(40, 30, [](std::uint32_t x, std::uint32_t y) {
      return Rgb{static_cast<std::uint8_t>(x * 6), static_cast<std::uint8_t>(y * 8), 9};
    }));
    QGuiApplication::clipboard()->setText(QStringLiteral("not a picture"));
    editor->action("pasteAction")->trigger();
    QCOMPARE(document().undoStack().count(), 0);
    QCOMPARE(editor->statusBar()->currentMessage(), QStringLiteral("The clipboard holds no picture: nothing was pasted"));

    editor->tools().setSelection(PixelRect{2, 3, 7, 6});
    editor->action("copyAction")->trigger();
    const QImage copied = QGuiApplication::clipboard()->image();
    QCOMPARE(copied.size(), QSize(5, 3));
    QCOMPARE(copied.pixel(0, 0), qRgb(12, 24, 9));
    editor->tools().setSelection(PixelRect{30, 20, 31, 21});
    editor->action("pasteAction")->trigger();
    QCOMPARE(document().undoStack().count(), 1);
    QCOMPARE(pixel(30, 20), (Rgb{12, 24, 9}));
    QCOMPARE(pixel(34, 22), (Rgb{36, 40, 9}));
    QCOMPARE(editor->tools().selection(), (PixelRect{30, 20, 35, 23}));
  }

  // Playing selections of an input that needs decoding decodes it once;
  // the file rewritten is decoded again.
  void playingSelectionsOfAnInputDecodesItOnce() {
    open(pictureOf(64, 41, [](std::uint32_t x, std::uint32_t) {
      return x < 32 ? Rgb{255, 255, 255} : Rgb{0, 0, 0};
    }));
    TempDir dir;
    renderSettings.inputSource = InputSource::WaveFile;
    renderSettings.inputPath = dir.file("fast.wav");
    writeFile(renderSettings.inputPath, waveBytes(pcm16Bytes(speechLike(2 * 48000, 8000)), 1, 16, 48000));
    inputWaveDuration = 2.0f;
    fileOptions.input.anyAudio = true;
    windowInputs().clear();
    const std::uint64_t before = windowInputs().decodes();
    QStringList played;
    setAuditionPlayer([&played](const QString& path) { played << path; });
    editor->tools().setSelection(PixelRect{0, 0, 40, 40});
    QVERIFY(!editor->playSelection().isEmpty());
    editor->tools().setSelection(PixelRect{8, 10, 40, 30});
    QVERIFY(!editor->playSelection().isEmpty());
    QCOMPARE(played.size(), 2);
    QCOMPARE(windowInputs().decodes(), before + 1);
    writeFile(renderSettings.inputPath, waveBytes(pcm16Bytes(speechLike(3 * 48000, 8000)), 1, 16, 48000));
    QVERIFY(!editor->playSelection().isEmpty());
    QCOMPARE(windowInputs().decodes(), before + 2);
    windowInputs().clear();
    fileOptions = SoundFileOptions{};
    renderSettings = RenderSettings{};
    inputWaveDuration = 0.0f;
  }

  // Play selection renders the selected region alone, on its own band and
  // time span, into a file of the program's own, and plays that.
  void playingTheSelectionRendersItsRegionAlone() {
    open(pictureOf(200, 101, [](std::uint32_t x, std::uint32_t y) {
      return x >= 50 && x < 120 && y >= 20 && y < 60 ? Rgb{255, 255, 255} : Rgb{0, 0, 0};
    }));
    renderSettings.frequencyScale = FrequencyScale::Linear;
    renderSettings.durationSeconds = 10.0f;
    QStringList played;
    setAuditionPlayer([&played](const QString& path) { played << path; });
    QVERIFY(!editor->action("playSelectionAction")->isEnabled());
    editor->tools().setSelection(PixelRect{50, 20, 120, 60});
    const QString path = editor->playSelection();
    QCOMPARE(played, QStringList{path});
    QVERIFY(!path.isEmpty());
    QVERIFY(renderSettings.outputPath.empty());  // no file of the user's
    // Rows 20 ... 59 of 101 over 10 s: 3.9 s, from 2.0 s.
    const std::vector<std::int16_t> samples = waveSamples(path.toStdString());
    QCOMPARE(samples.size(), static_cast<std::size_t>(noiseSampleCount(44100, 3.9f)));
    double energy = 0.0;
    for (std::int16_t s : samples) energy += static_cast<double>(s) * s;
    QVERIFY(energy > 0.0);
    AuditionPlan plan;
    QString reason;
    QVERIFY(planAudition(picture(), PixelRect{50, 20, 120, 60}, renderSettings, 10.0f, plan, reason));
    QCOMPARE(plan.settings.bandLowHz, 50.0f / 199.0f * 22050.0f);
    QCOMPARE(plan.settings.bandHighHz, 119.0f / 199.0f * 22050.0f);
    QCOMPARE(plan.startSeconds, 2.0);
    QCOMPARE(plan.crop.width, 70u);
    // Too narrow a band for one bin is refused, saying why.
    QVERIFY(!planAudition(picture(), PixelRect{50, 20, 51, 60}, renderSettings, 10.0f, plan, reason));
    QVERIFY(!planAudition(*blankPicture(20000, 10), PixelRect{100, 0, 102, 10}, renderSettings, 10.0f, plan, reason));
    QVERIFY2(reason.contains("bin"), qPrintable(reason));
  }

  // With a wave source the selection's stretch of the wave is what gets
  // filtered: read from the selection's first row's time, as long as its
  // rows. A burst at 0.5 s is heard at the start of a selection from 0.5 s
  // and not in one from 1.5 s.
  void playingTheSelectionOfAWaveReadsItsStretch() {
    TempDir dir;
    std::vector<std::int16_t> burst(44100 * 2);
    for (std::size_t i = 22050; i < 22050 + 4410; ++i) burst[i] = static_cast<std::int16_t>(12000 * std::sin(i * 0.1425));
    writeFile(dir.file("in.wav"), waveBytes(pcm16Bytes(burst), 1, 16, 44100));
    RenderSettings settings;
    settings.inputSource = InputSource::WaveFile;
    settings.inputPath = dir.file("in.wav");
    settings.frequencyScale = FrequencyScale::Linear;
    // 41 rows over 2 s: row r at r / 20 s; rows 10 ... 29 are 0.5 ... 1.45 s.
    auto picture = pictureOf(64, 41, [](std::uint32_t, std::uint32_t) { return Rgb{255, 255, 255}; });
    const auto energy = [](const std::vector<std::int16_t>& s, std::size_t from, std::size_t to) {
      double e = 0.0;
      for (std::size_t i = from; i < std::min(to, s.size()); ++i) e += static_cast<double>(s[i]) * s[i];
      return e;
    };
    AuditionPlan plan;
    QString reason;
    QVERIFY(planAudition(*picture, PixelRect{1, 10, 63, 30}, settings, 2.0f, plan, reason));
    QCOMPARE(plan.startSeconds, 0.5);
    QVERIFY(std::fabs(plan.seconds - 0.95) < 1e-9);
    QString sound = renderAudition(plan, QString::fromStdString(dir.path()), kInitialRandomSeed, AudioInputRules{}, reason);
    QVERIFY2(!sound.isEmpty(), qPrintable(reason));
    std::vector<std::int16_t> heard = waveSamples(sound.toStdString());
    QCOMPARE(heard.size(), std::size_t{41896});  // 0.95 s and one sample
    const double start = energy(heard, 0, 4410), later = energy(heard, 13230, heard.size());
    QVERIFY2(start > 1e10 && later < start * 1e-4, qPrintable(QStringLiteral("%1 %2").arg(start).arg(later)));
    QVERIFY(planAudition(*picture, PixelRect{1, 30, 63, 41}, settings, 2.0f, plan, reason));
    sound = renderAudition(plan, QString::fromStdString(dir.path()), kInitialRandomSeed, AudioInputRules{}, reason);
    heard = waveSamples(sound.toStdString());
    QCOMPARE(heard.size(), std::size_t{22050});  // 1.5 s to the wave's end, one sample short of 2 s
    QVERIFY(energy(heard, 0, heard.size()) < start * 1e-4);
    QCOMPARE(readFile(settings.inputPath).size(), std::size_t{44 + 4 * 44100});  // the user's wave untouched
  }

  // The spectrogram of the input wave is off until asked for, then lies
  // over the picture on its grid.
  void theSpectrogramUnderneathIsOffUntilAskedFor() {
    TempDir dir;
    std::vector<std::int16_t> tone(44100);
    for (std::size_t i = 0; i < tone.size(); ++i) tone[i] = static_cast<std::int16_t>(8000 * std::sin(i * 0.2));
    writeFile(dir.file("in.wav"), waveBytes(pcm16Bytes(tone), 1, 16, 44100));
    open(blankPicture(64, 40));
    QVERIFY(!canvas().underlayShown());
    QVERIFY(!editor->action("spectrogramAction")->isChecked());
    // No wave chosen: nothing to show, and it says so.
    editor->action("spectrogramAction")->trigger();
    QVERIFY(!canvas().underlayShown());
    QVERIFY(!editor->action("spectrogramAction")->isChecked());
    renderSettings.inputPath = dir.file("in.wav");
    editor->action("spectrogramAction")->trigger();
    QVERIFY(canvas().underlayShown());
    QCOMPARE(canvas().underlay().size(), QSize(64, 40));
    // The tone's column is the brightest of a row.
    const QImage& u = canvas().underlay();
    int brightest = 0;
    for (int x = 1; x < 64; ++x) if (qGreen(u.pixel(x, 20)) > qGreen(u.pixel(brightest, 20))) brightest = x;
    const double hz = 0.2 * 44100 / (2 * M_PI);
    const double expected = (std::log(hz + 700) - std::log(716.0)) / (std::log(22750.0) - std::log(716.0)) * 63;
    QVERIFY2(std::fabs(brightest - expected) <= 1.5, qPrintable(QStringLiteral("%1 vs %2").arg(brightest).arg(expected)));
  }
};

QTEST_MAIN(EditorViewTest)
#include "editor_view_test.moc"
