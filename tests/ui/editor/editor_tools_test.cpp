// SPDX-License-Identifier: GPL-3.0-or-later
// The editor's tools, driven with the mouse on the canvas: what a brush
// dab, a line, a fill and the harmonics brush paint, pixel for pixel, and
// that the main window's preview and the next render see it.
#include <QAction>
#include <QSpinBox>
#include <cmath>
#include <set>

#include "editor_support.h"
#include "ui/axes/preview_frame.h"
#include "ui/common/app_state.h"

using namespace vellomar;
using namespace vellomar::test;

namespace {

constexpr Rgb kBlack{0, 0, 0};
constexpr Rgb kWhite{255, 255, 255};

// The columns of row `y` that are not black, as runs' centres.
std::vector<double> litColumnCentres(const PictureBitmap& p, std::uint32_t y) {
  std::vector<double> centres;
  std::uint32_t x = 0;
  while (x < p.width) {
    if (colourAt(p, x, y) == kBlack) {
      ++x;
      continue;
    }
    const std::uint32_t start = x;
    while (x < p.width && !(colourAt(p, x, y) == kBlack)) ++x;
    centres.push_back((start + x - 1) / 2.0);
  }
  return centres;
}

}  // namespace

class EditorToolsTest : public QObject, public EditorFixture {
  Q_OBJECT

  void setBrush(int size, int hardness, int opacity, int level) {
    editor->findChild<QSpinBox*>("sizeOption")->setValue(size);
    editor->findChild<QSpinBox*>("hardnessOption")->setValue(hardness);
    editor->findChild<QSpinBox*>("opacityOption")->setValue(opacity);
    editor->findChild<QSpinBox*>("levelOption")->setValue(level);
  }

 private slots:
  void cleanup() { close(); }

  // A hard round dab of 5 pixels at a pixel's centre covers the pixels
  // whose centres lie within 2.5 pixels: a 5 x 5 square without its
  // corners, 21 pixels, in the grey of the level; nothing else changes. The
  // preview and the render's picture have it too.
  void aBrushDabCoversItsFootprint() {
    open(blankPicture(64, 48));
    useTool(Tool::Brush);
    setBrush(5, 100, 100, 200);
    click(10.5, 20.5);
    int lit = 0;
    for (std::uint32_t y = 0; y < 48; ++y) {
      for (std::uint32_t x = 0; x < 64; ++x) {
        const double dx = x - 10.0, dy = y - 20.0;
        const bool inside = dx * dx + dy * dy <= 6.25;
        QCOMPARE(pixel(x, y), inside ? (Rgb{200, 200, 200}) : kBlack);
        lit += inside;
      }
    }
    QCOMPARE(lit, 21);
    QCOMPARE(document().undoStack().count(), 1);
    // The render reads the edited picture, the preview shows it.
    QCOMPARE(pictureData.pixels[offsetOf(picture(), 10, 20)], std::uint8_t{200});
    QCOMPARE(window->controls().previewFrame->picture()->pixels[offsetOf(picture(), 12, 20)], std::uint8_t{200});
    // A soft dab at half opacity is strongest at its centre and no more
    // than half way to white anywhere.
    setBrush(9, 0, 50, 255);
    click(40.5, 20.5);
    QCOMPARE(pixel(40, 20), (Rgb{128, 128, 128}));
    QVERIFY(pixel(43, 20).r < pixel(41, 20).r && pixel(41, 20).r <= 128 && pixel(45, 20) == kBlack);
  }

  // A line drawn from one pixel to another paints both end pixels and the
  // pixels between, and nothing beyond its ends; a second drag position
  // replaces the first (a shape is pulled out, not smeared).
  void aLineRunsFromEndToEnd() {
    open(blankPicture(80, 60));
    useTool(Tool::Line);
    setBrush(1, 100, 100, 255);
    drag({{5.5, 5.5}, {70.5, 50.5}, {60.5, 30.5}});
    QCOMPARE(pixel(5, 5), kWhite);
    QCOMPARE(pixel(60, 30), kWhite);
    QCOMPARE(pixel(70, 50), kBlack);  // where the line went for a while
    QCOMPARE(pixel(4, 4), kBlack);
    QCOMPARE(pixel(61, 30), kBlack);
    // Every column between the ends has exactly one lit pixel near the
    // straight line through them.
    for (std::uint32_t x = 6; x < 60; ++x) {
      int lit = 0;
      for (std::uint32_t y = 0; y < 60; ++y) {
        if (!(pixel(x, y) == kBlack)) {
          ++lit;
          const double onLine = 5.0 + (x - 5.0) * 25.0 / 55.0;
          QVERIFY2(std::fabs(y - onLine) <= 1.0, qPrintable(QStringLiteral("column %1 row %2").arg(x).arg(y)));
        }
      }
      QVERIFY2(lit >= 1, qPrintable(QStringLiteral("column %1").arg(x)));
    }
    QCOMPARE(document().undoStack().count(), 1);
  }

  // A fill reaches every pixel of the seed's colour connected to it and
  // stops at a wall, diagonal gaps included (4-connected); it stays within
  // the selection.
  void aFillStopsAtWallsAndTheSelection() {
    // A white ring with a diagonal leak only: (20, 10) to (39, 29).
    open(pictureOf(60, 40, [](std::uint32_t x, std::uint32_t y) {
      const bool ring = (x >= 20 && x <= 39 && (y == 10 || y == 29)) || (y >= 10 && y <= 29 && (x == 20 || x == 39));
      const bool corner = x == 20 && y == 10;
      return ring && !corner ? kWhite : kBlack;
    }));
    useTool(Tool::Fill);
    setBrush(1, 100, 100, 100);
    click(30.5, 20.5);
    for (std::uint32_t y = 0; y < 40; ++y) {
      for (std::uint32_t x = 0; x < 60; ++x) {
        const bool inside = x > 20 && x < 39 && y > 10 && y < 29;
        const bool ring = (x >= 20 && x <= 39 && (y == 10 || y == 29)) || (y >= 10 && y <= 29 && (x == 20 || x == 39));
        const Rgb expected = inside ? Rgb{100, 100, 100} : ring && !(x == 20 && y == 10) ? kWhite : kBlack;
        if (!(pixel(x, y) == expected)) QFAIL(qPrintable(QStringLiteral("pixel %1, %2").arg(x).arg(y)));
      }
    }
    // Outside, within a selection only.
    editor->tools().setSelection(PixelRect{0, 0, 10, 5});
    click(2.5, 2.5);
    QCOMPARE(pixel(9, 4), (Rgb{100, 100, 100}));
    QCOMPARE(pixel(10, 4), kBlack);
    QCOMPARE(pixel(9, 5), kBlack);
  }

  // The harmonics brush paints the stroke's column and, on the same row,
  // the columns of 2f, 3f, ... on whatever scale is chosen, each weaker by
  // the decay: checked against the scales' own formulas.
  void theHarmonicsBrushPaintsMultiplesOfTheFrequency_data() {
    QTest::addColumn<int>("scale");
    QTest::addColumn<int>("column");
    QTest::newRow("linear") << static_cast<int>(FrequencyScale::Linear) << 40;
    QTest::newRow("logarithmic") << static_cast<int>(FrequencyScale::Logarithmic) << 150;
    QTest::newRow("mel") << static_cast<int>(FrequencyScale::Mel) << 60;
  }

  void theHarmonicsBrushPaintsMultiplesOfTheFrequency() {
    QFETCH(int, scale);
    QFETCH(int, column);
    constexpr std::uint32_t kWidth = 400;
    open(blankPicture(kWidth, 20), 2.0);
    renderSettings.frequencyScale = static_cast<FrequencyScale>(scale);
    useTool(Tool::Harmonics);
    setBrush(1, 100, 100, 255);
    editor->findChild<QSpinBox*>("harmonicsOption")->setValue(3);
    click(column + 0.5, 10.5);
    const std::vector<double> lit = litColumnCentres(picture(), 10);
    QCOMPARE(lit.size(), std::size_t{4});
    // Positions on the scale (0 ... W - 1) of a frequency, by the formulas.
    const double last = kWidth - 1.0, top = 22050.0;
    const auto position = [&](double hz) {
      switch (static_cast<FrequencyScale>(scale)) {
        case FrequencyScale::Linear: return hz / top * last;
        case FrequencyScale::Logarithmic: return std::log(hz / 16.0) / std::log(top / 16.0) * last;
        default: return std::log((hz + 700.0) / 716.0) / std::log((top + 700.0) / 716.0) * last;
      }
    };
    const auto frequency = [&](double p) {
      switch (static_cast<FrequencyScale>(scale)) {
        case FrequencyScale::Linear: return p / last * top;
        case FrequencyScale::Logarithmic: return 16.0 * std::pow(top / 16.0, p / last);
        default: return 716.0 * std::pow((top + 700.0) / 716.0, p / last) - 700.0;
      }
    };
    const double f = frequency(column);
    std::uint8_t previous = 255;
    for (int k = 1; k <= 4; ++k) {
      const double expected = position(k * f);
      QVERIFY2(std::fabs(lit[static_cast<std::size_t>(k - 1)] - expected) <= 0.51,
               qPrintable(QStringLiteral("harmonic %1 at %2, expected %3").arg(k).arg(lit[k - 1]).arg(expected)));
      // Each weaker than the one before, by the decay (0.6 by default).
      const std::uint8_t level = pixel(static_cast<std::uint32_t>(std::lround(lit[static_cast<std::size_t>(k - 1)])), 10).r;
      QCOMPARE(static_cast<int>(level), static_cast<int>(std::lround(255 * std::pow(0.6, k - 1))));
      QVERIFY(level <= previous);
      previous = level;
    }
  }

  // In stereo a panned brush paints red and green by the equal-power law;
  // centred it paints grey.
  void aPannedBrushPaintsRedAndGreenByEqualPower() {
    QCOMPARE(paintColour(150, 0.0f, true), (Rgb{150, 150, 150}));
    QCOMPARE(paintColour(150, -1.0f, true), (Rgb{212, 0, 0}));
    QCOMPARE(paintColour(150, 1.0f, true), (Rgb{0, 212, 0}));
    const Rgb half = paintColour(100, 0.5f, true);
    // red^2 + green^2 = 2 level^2 (to the rounding of each byte).
    QVERIFY(std::fabs(half.r * half.r + half.g * half.g - 20000.0) < 2 * 141.0 + 2);
    QCOMPARE(half.b, std::min(half.r, half.g));
    QCOMPARE(paintColour(150, -1.0f, false), (Rgb{150, 150, 150}));  // mono: always grey
  }

  // The select tool pulls out a rectangle of whole pixels; dragging inside
  // it moves what it holds (black where it was), as one step; the arrow
  // keys move it a pixel at a time, a run of them one step; flipping in
  // time mirrors its rows.
  void aSelectionIsPulledOutAndMoved() {
    open(pictureOf(60, 40, [](std::uint32_t x, std::uint32_t y) {
      return x >= 10 && x < 20 && y >= 10 && y < 15 ? Rgb{static_cast<std::uint8_t>(100 + x), static_cast<std::uint8_t>(y), 50} : kBlack;
    }));
    useTool(Tool::Select);
    drag({{10.2, 10.7}, {15.0, 12.0}, {19.6, 14.1}});
    QCOMPARE(editor->tools().selection(), (PixelRect{10, 10, 20, 15}));
    QCOMPARE(document().undoStack().count(), 0);  // selecting changes no pixel
    drag({{12.5, 12.5}, {20.5, 20.5}, {32.5, 22.5}});
    QCOMPARE(document().undoStack().count(), 1);
    QCOMPARE(editor->tools().selection(), (PixelRect{30, 20, 40, 25}));
    QCOMPARE(pixel(10, 10), kBlack);
    QCOMPARE(pixel(30, 20), (Rgb{110, 10, 50}));
    QCOMPARE(pixel(39, 24), (Rgb{119, 14, 50}));
    for (int i = 0; i < 3; ++i) QTest::keyClick(&canvas(), Qt::Key_Right);
    QTest::keyClick(&canvas(), Qt::Key_Down);
    QCOMPARE(document().undoStack().count(), 2);  // four nudges, one step
    QCOMPARE(pixel(33, 21), (Rgb{110, 10, 50}));
    QCOMPARE(pixel(30, 20), kBlack);
    editor->action("flipTimeAction")->trigger();
    QCOMPARE(pixel(33, 21), (Rgb{110, 14, 50}));
    // Esc in the middle of a drag takes it back.
    QTest::mousePress(viewport(), Qt::LeftButton, {}, at(35.5, 23.5));
    moveTo(45.5, 30.5, Qt::LeftButton);
    QCOMPARE(pixel(43, 28), (Rgb{110, 14, 50}));
    QTest::keyClick(&canvas(), Qt::Key_Escape);
    QTest::mouseRelease(viewport(), Qt::LeftButton, {}, at(45.5, 30.5));
    QCOMPARE(pixel(43, 28), kBlack);
    QCOMPARE(pixel(33, 21), (Rgb{110, 14, 50}));
    QCOMPARE(document().undoStack().count(), 3);
  }

  // Another picture arriving in the middle of a stroke (a watched file
  // saved, say) takes the stroke's place: the rest of the drag paints
  // nothing into it and leaves no step.
  void aNewPictureInTheMiddleOfAStrokeEndsIt() {
    open(blankPicture(80, 60));
    useTool(Tool::Brush);
    QTest::mousePress(viewport(), Qt::LeftButton, {}, at(10.5, 10.5));
    moveTo(40.5, 30.5, Qt::LeftButton);
    showPicture(*window, pictureOf(30, 20, [](std::uint32_t, std::uint32_t) { return Rgb{9, 9, 9}; }), std::string());
    moveTo(20.5, 10.5, Qt::LeftButton);
    QTest::mouseRelease(viewport(), Qt::LeftButton, {}, at(25.5, 15.5));
    QCOMPARE(picture().width, 30u);
    for (std::uint32_t y = 0; y < 20; ++y)
      for (std::uint32_t x = 0; x < 30; ++x) QCOMPARE(pixel(x, y), (Rgb{9, 9, 9}));
    QCOMPARE(document().undoStack().count(), 0);
  }

  // Undo in the middle of a stroke takes back the stroke so far as a whole;
  // the rest of the drag paints nothing, and redo brings the stroke back.
  void undoInTheMiddleOfAStrokeTakesItBack() {
    open(blankPicture(80, 60));
    useTool(Tool::Brush);
    QTest::mousePress(viewport(), Qt::LeftButton, {}, at(10.5, 10.5));
    moveTo(40.5, 30.5, Qt::LeftButton);
    QCOMPARE(pixel(25, 20), kWhite);
    editor->action("undoAction")->trigger();
    moveTo(60.5, 30.5, Qt::LeftButton);
    QTest::mouseRelease(viewport(), Qt::LeftButton, {}, at(60.5, 30.5));
    QCOMPARE(litColumnCentres(picture(), 20).size(), std::size_t{0});
    QCOMPARE(pixel(50, 30), kBlack);
    QCOMPARE(document().undoStack().count(), 1);
    QCOMPARE(document().undoStack().index(), 0);
    editor->action("redoAction")->trigger();
    QCOMPARE(pixel(25, 20), kWhite);
    QCOMPARE(pixel(50, 30), kBlack);
  }

  // A stroke is one step of the history however many moves it took; undo
  // gives back every pixel, redo the stroke.
  void aStrokeIsOneStepThatUndoesExactly() {
    open(pictureOf(50, 50, [](std::uint32_t x, std::uint32_t y) {
      return Rgb{static_cast<std::uint8_t>(x * 5), static_cast<std::uint8_t>(y * 5), 7};
    }));
    const PictureBitmap before = picture();
    useTool(Tool::Brush);
    setBrush(7, 50, 80, 255);
    std::vector<QPointF> path;
    for (int i = 0; i <= 30; ++i) path.emplace_back(5 + i * 1.3, 10 + i);
    drag(path);
    const PictureBitmap after = picture();
    QVERIFY(after.pixels != before.pixels);
    QCOMPARE(document().undoStack().count(), 1);
    editor->action("undoAction")->trigger();
    QVERIFY(picture().pixels == before.pixels && picture().red == before.red && picture().blue == before.blue);
    editor->action("redoAction")->trigger();
    QVERIFY(picture().pixels == after.pixels && picture().green == after.green);
  }
};

QTEST_MAIN(EditorToolsTest)
#include "editor_tools_test.moc"
