// SPDX-License-Identifier: GPL-3.0-or-later
// The painting and selection operations over the planes, without a
// window: the shapes' outlines, the gradient's ends, the softener, the
// selection's scale, flips and brightness/contrast, and the history's
// memory kept within its budget by moving old steps to its file.
#include <QTest>
#include <cmath>

#include "ui/document/history_memory.h"
#include "ui/document/paint_ops.h"
#include "ui/document/picture_command.h"
#include "ui/document/picture_document.h"
#include "ui/document/region_ops.h"

using namespace vellomar;

namespace {

constexpr Rgb kBlack{0, 0, 0};
constexpr Rgb kWhite{255, 255, 255};

int litIn(const PictureBitmap& p, const PixelRect& r) {
  int n = 0;
  for (std::int64_t y = r.y0; y < r.y1; ++y)
    for (std::int64_t x = r.x0; x < r.x1; ++x) n += !(colourAt(p, x, y) == kBlack);
  return n;
}

}  // namespace

class PaintOpsTest : public QObject {
  Q_OBJECT

 private slots:
  // A filled rectangle covers the box between its corners' pixels, both
  // included; its outline is as wide as the brush, inside the box.
  void rectanglesCoverTheirBox() {
    auto p = blankPicture(40, 30);
    TileStore store;
    const PixelRect written = drawShape(*p, store, ShapeKind::Rectangle, {5.7f, 4.2f}, {14.1f, 12.9f}, false,
                                        BrushShape{2, 1}, 1.0f, kWhite);
    QCOMPARE(written, (PixelRect{5, 4, 15, 13}));
    QCOMPARE(colourAt(*p, 5, 4), kWhite);
    QCOMPARE(colourAt(*p, 6, 5), kWhite);   // second ring of a 2-pixel outline
    QCOMPARE(colourAt(*p, 7, 6), kBlack);   // inside
    QCOMPARE(colourAt(*p, 14, 12), kWhite);
    QCOMPARE(litIn(*p, boundsOf(*p)), 10 * 9 - 6 * 5);
    auto q = blankPicture(40, 30);
    TileStore other;
    drawShape(*q, other, ShapeKind::Rectangle, {14.1f, 12.9f}, {5.7f, 4.2f}, true, BrushShape{2, 1}, 1.0f, kWhite);
    QCOMPARE(litIn(*q, boundsOf(*q)), 10 * 9);  // either corner first
  }

  // An ellipse is symmetric about its box's centre lines and touches the
  // middle of each side; its outline leaves the middle empty.
  void ellipsesAreSymmetricAndTouchTheirBox() {
    auto p = blankPicture(50, 40);
    TileStore store;
    drawShape(*p, store, ShapeKind::Ellipse, {10, 5}, {30.5f, 25.5f}, true, BrushShape{1, 1}, 1.0f, kWhite);
    for (std::int64_t y = 5; y <= 25; ++y) {
      for (std::int64_t x = 10; x <= 30; ++x) {
        QCOMPARE(colourAt(*p, x, y), colourAt(*p, 40 - x, y));
        QCOMPARE(colourAt(*p, x, y), colourAt(*p, x, 30 - y));
      }
    }
    QCOMPARE(colourAt(*p, 20, 5), kWhite);
    QCOMPARE(colourAt(*p, 10, 15), kWhite);
    QCOMPARE(colourAt(*p, 10, 5), kBlack);  // the box's corner
    auto q = blankPicture(50, 40);
    TileStore other;
    drawShape(*q, other, ShapeKind::Ellipse, {10, 5}, {30.5f, 25.5f}, false, BrushShape{3, 1}, 1.0f, kWhite);
    QCOMPARE(colourAt(*q, 20, 15), kBlack);
    QCOMPARE(colourAt(*q, 20, 6), kWhite);
    QVERIFY(litIn(*q, boundsOf(*q)) < litIn(*p, boundsOf(*p)));
  }

  // A gradient gives its first colour at and before its start, its second
  // at and beyond its end, and halfway between them in the middle.
  void aGradientRunsFromColourToColour() {
    auto p = blankPicture(101, 3);
    TileStore store;
    drawGradient(*p, store, boundsOf(*p), {10.5f, 1.5f}, {90.5f, 1.5f}, Rgb{200, 100, 0}, kBlack, 1.0f);
    QCOMPARE(colourAt(*p, 0, 0), (Rgb{200, 100, 0}));
    QCOMPARE(colourAt(*p, 10, 2), (Rgb{200, 100, 0}));
    QCOMPARE(colourAt(*p, 50, 1), (Rgb{100, 50, 0}));
    QCOMPARE(colourAt(*p, 90, 1), kBlack);
    QCOMPARE(colourAt(*p, 100, 1), kBlack);
    for (std::int64_t x = 11; x < 100; ++x) QVERIFY(colourAt(*p, x, 1).r <= colourAt(*p, x - 1, 1).r);
  }

  // The softener blurs within its reach only, keeps a uniform area as it
  // is, and brings a sharp edge's two sides toward each other.
  void softeningBlursAnEdge() {
    auto p = blankPicture(40, 20);
    for (std::uint32_t y = 0; y < 20; ++y)
      for (std::uint32_t x = 20; x < 40; ++x) setColour(*p, x, y, kWhite);
    TileStore store;
    Stroke soften(Stroke::Kind::Soften, BrushShape{9, 1}, 1.0f, kBlack);
    soften.segment(*p, store, {20.0f, 10.0f}, {20.0f, 10.0f}, 1.0f, 1.0f, true);
    const Rgb left = colourAt(*p, 19, 10), right = colourAt(*p, 20, 10);
    QVERIFY(left.r > 0 && left.r < 128 && right.r > 128 && right.r < 255);
    QCOMPARE(colourAt(*p, 10, 10), kBlack);   // beyond its reach
    QCOMPARE(colourAt(*p, 20, 2), kWhite);
    QCOMPARE(colourAt(*p, 23, 10).r, std::uint8_t{255});  // every neighbour white
  }

  // Scaling keeps the selection's corner and its content's order; flipping
  // twice gives it back; brightness 0 and contrast 1 change nothing, and
  // bytes are held within 0 ... 255.
  void selectionsScaleFlipAndAdjust() {
    auto p = blankPicture(30, 20);
    for (std::uint32_t y = 0; y < 20; ++y)
      for (std::uint32_t x = 0; x < 30; ++x) setColour(*p, x, y, Rgb{static_cast<std::uint8_t>(x * 8), static_cast<std::uint8_t>(y * 12), 60});
    const PictureBitmap original = *p;
    TileStore store;
    QCOMPARE(scaleRegion(*p, store, PixelRect{4, 4, 8, 8}, 8, 2), (PixelRect{4, 4, 12, 8}));
    QCOMPARE(colourAt(*p, 4, 6), kBlack);  // below the scaled rows: cleared
    QVERIFY(colourAt(*p, 11, 4).r > colourAt(*p, 4, 4).r);
    QCOMPARE(colourAt(*p, 20, 15), colourAt(original, 20, 15));
    auto q = std::make_shared<PictureBitmap>(original);
    for (const FlipAxis axis : {FlipAxis::Time, FlipAxis::Frequency}) {
      flipRegion(*q, store, PixelRect{3, 2, 17, 11}, axis);
      QCOMPARE(colourAt(*q, 3, 2), axis == FlipAxis::Time ? colourAt(original, 3, 10) : colourAt(original, 16, 2));
      flipRegion(*q, store, PixelRect{3, 2, 17, 11}, axis);
      QVERIFY(q->pixels == original.pixels && q->red == original.red);
    }
    adjustRegion(*q, store, boundsOf(*q), 0, 1.0);
    QVERIFY(q->pixels == original.pixels && q->blue == original.blue);
    adjustRegion(*q, store, boundsOf(*q), 100, 2.0);
    // v' = (v - 127.5) * 2 + 227.5, rounded: 0 is held at 0, 60 gives 93,
    // 80 gives 133, 232 is held at 255.
    QCOMPARE(colourAt(*q, 0, 0), (Rgb{0, 0, 93}));
    QCOMPARE(colourAt(*q, 10, 0), (Rgb{133, 0, 93}));
    QCOMPARE(colourAt(*q, 29, 19).r, std::uint8_t{255});
    QCOMPARE(q->pixels[offsetOf(*q, 10, 0)], brightnessOf(133, 0, 93));
  }

  // The history keeps in memory no more than its budget, the most recent
  // step apart: older steps move to its file, and come back exactly.
  void theHistoryKeepsToItsBudget() {
    PictureDocument document;
    document.history().setBudget(200 * 1024);
    auto p = blankPicture(512, 512);
    for (std::uint32_t y = 0; y < 512; ++y)
      for (std::uint32_t x = 0; x < 512; ++x) setColour(*p, x, y, Rgb{static_cast<std::uint8_t>(x * y), static_cast<std::uint8_t>(x), static_cast<std::uint8_t>(y)});
    document.replace(p, "");
    QVERIFY(document.makeEditable());
    const PictureBitmap before = *document.picture();
    for (int i = 0; i < 12; ++i) {
      const std::int64_t y0 = i * 40;
      document.undoStack().push(new EditCommand(document, "band", [y0](PictureBitmap& pic, TileStore& s) {
        return adjustRegion(pic, s, PixelRect{0, y0, 512, y0 + 40}, 30, 0.5);
      }));
      const std::uint64_t newest = 4 * 512 * 128 + 4096;  // the last step's tiles, at most
      QVERIFY2(document.history().bytesInMemory() <= document.history().budget() + newest,
               qPrintable(QString::number(document.history().bytesInMemory())));
    }
    QVERIFY(document.history().bytesInFile() > 0);
    document.undoStack().setIndex(0);
    QVERIFY(document.picture()->pixels == before.pixels && document.picture()->green == before.green);
  }
};

QTEST_MAIN(PaintOpsTest)
#include "paint_ops_test.moc"
