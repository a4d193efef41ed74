// SPDX-License-Identifier: GPL-3.0-or-later
// The picture document: revisions and the rows they carry, snapshots that
// never change under a reader, throttled revisions during a drag, the
// unsaved flag, and undo and redo that give back every pixel exactly,
// also when the history has moved out of memory into its file.
#include <QSignalSpy>
#include <QTest>
#include <cstring>
#include <random>

#include "files/picture.h"
#include "ui/document/paint_ops.h"
#include "ui/document/picture_command.h"
#include "ui/document/picture_document.h"
#include "ui/document/region_ops.h"

using namespace vellomar;

namespace {

// A colour picture whose every pixel differs from its neighbours.
std::shared_ptr<PictureBitmap> patterned(std::uint32_t w, std::uint32_t h) {
  std::shared_ptr<PictureBitmap> p = blankPicture(w, h);
  for (std::uint32_t y = 0; y < h; ++y) {
    for (std::uint32_t x = 0; x < w; ++x) {
      setColour(*p, x, y, Rgb{static_cast<std::uint8_t>(x * 7 + y), static_cast<std::uint8_t>(y * 5 + x * 3),
                              static_cast<std::uint8_t>(x ^ y)});
    }
  }
  return p;
}

// Every plane of a picture, for exact comparison.
std::vector<std::uint8_t> planesOf(const PictureBitmap& p) {
  std::vector<std::uint8_t> all(p.pixels);
  all.insert(all.end(), p.red.begin(), p.red.end());
  all.insert(all.end(), p.green.begin(), p.green.end());
  all.insert(all.end(), p.blue.begin(), p.blue.end());
  return all;
}

RowSpans rowsOf(const QSignalSpy& spy, int index) { return spy.at(index).at(1).value<RowSpans>(); }

// One random edit of the kinds the editor makes: fills, pastes, flips,
// moves, adjustments as one-step commands; strokes, shapes and gradients
// as drags.
void randomEdit(PictureDocument& document, std::mt19937& random) {
  const PictureBitmap& p = *document.picture();
  std::uniform_int_distribution<int> xs(-10, static_cast<int>(p.width) + 10);
  std::uniform_int_distribution<int> ys(-10, static_cast<int>(p.height) + 10);
  std::uniform_int_distribution<int> byte(0, 255);
  const auto rect = [&] {
    const int a = xs(random), b = xs(random), c = ys(random), d = ys(random);
    return PixelRect{std::min(a, b), std::min(c, d), std::max(a, b) + 1, std::max(c, d) + 1};
  };
  const Rgb colour{static_cast<std::uint8_t>(byte(random)), static_cast<std::uint8_t>(byte(random)),
                   static_cast<std::uint8_t>(byte(random))};
  const PixelRect r = rect();
  const int kind = std::uniform_int_distribution<int>(0, 6)(random);
  const auto push = [&](PictureEdit edit) { document.undoStack().push(new EditCommand(document, "edit", std::move(edit))); };
  switch (kind) {
    case 0:
      push([=](PictureBitmap& pic, TileStore& s) { return fillRegion(pic, s, r, colour); });
      break;
    case 1: {
      const FlipAxis axis = byte(random) % 2 ? FlipAxis::Time : FlipAxis::Frequency;
      push([=](PictureBitmap& pic, TileStore& s) { return flipRegion(pic, s, r, axis); });
      break;
    }
    case 2: {
      const int dx = xs(random) / 3, dy = ys(random) / 3;
      push([=](PictureBitmap& pic, TileStore& s) { return moveRegion(pic, s, r, dx, dy); });
      break;
    }
    case 3:
      push([=](PictureBitmap& pic, TileStore& s) { return adjustRegion(pic, s, r, 40, 1.5); });
      break;
    case 4: {
      OngoingCommand ongoing(document);
      DragCommand& drag = ongoing.begin("stroke");
      Stroke stroke(Stroke::Kind::Paint, BrushShape{static_cast<float>(1 + byte(random) % 30), 0.5f}, 0.7f, colour);
      PointF last{static_cast<float>(xs(random)), static_cast<float>(ys(random))};
      for (int i = 0; i < 6; ++i) {
        const PointF next{static_cast<float>(xs(random)), static_cast<float>(ys(random))};
        drag.add([&](PictureBitmap& pic, TileStore& s) { return stroke.segment(pic, s, last, next, 1.0f, 0.5f, i == 0); });
        last = next;
      }
      ongoing.commit();
      break;
    }
    case 5: {
      OngoingCommand ongoing(document);
      DragCommand& drag = ongoing.begin("shape");
      const PointF a{static_cast<float>(xs(random)), static_cast<float>(ys(random))};
      for (int i = 0; i < 4; ++i) {
        const PointF b{static_cast<float>(xs(random)), static_cast<float>(ys(random))};
        drag.replace([=](PictureBitmap& pic, TileStore& s) {
          return drawShape(pic, s, i % 2 ? ShapeKind::Ellipse : ShapeKind::Rectangle, a, b, i == 3, BrushShape{3, 1}, 1.0f, colour);
        });
      }
      ongoing.commit();
      break;
    }
    default: {
      const Stroke::Kind soften = Stroke::Kind::Soften;
      OngoingCommand ongoing(document);
      DragCommand& drag = ongoing.begin("soften");
      Stroke stroke(soften, BrushShape{12, 0.3f}, 1.0f, colour);
      const PointF a{static_cast<float>(xs(random)), static_cast<float>(ys(random))};
      const PointF b{static_cast<float>(xs(random)), static_cast<float>(ys(random))};
      drag.add([&](PictureBitmap& pic, TileStore& s) { return stroke.segment(pic, s, a, b, 1.0f, 1.0f, true); });
      ongoing.commit();
      break;
    }
  }
}

}  // namespace

class PictureDocumentTest : public QObject {
  Q_OBJECT

 private slots:
  void brightnessFromTablesIsTheLoadersForEveryColour() {
    for (int r = 0; r < 256; ++r) {
      for (int g = 0; g < 256; ++g) {
        for (int b = 0; b < 256; ++b) {
          const auto R = static_cast<std::uint8_t>(r), G = static_cast<std::uint8_t>(g), B = static_cast<std::uint8_t>(b);
          if (brightnessFast(R, G, B) != brightnessOf(R, G, B)) QFAIL(qPrintable(QStringLiteral("%1 %2 %3").arg(r).arg(g).arg(b)));
        }
      }
    }
  }

  void rowSpansJoinWhatMeetsOrOverlaps() {
    RowSpans rows;
    rows.add(10, 20);
    rows.add(30, 40);
    rows.add(20, 25);  // meets the first
    QCOMPARE(rows.spans().size(), std::size_t{2});
    QCOMPARE(rows.spans()[0], (RowSpan{10, 25}));
    rows.add(5, 35);  // swallows both
    QCOMPARE(rows.spans().size(), std::size_t{1});
    QCOMPARE(rows.spans()[0], (RowSpan{5, 40}));
    rows.add(50, 50);  // empty
    QCOMPARE(rows.rowCount(), std::uint64_t{35});
    QVERIFY(rows.contains(39) && !rows.contains(40) && !rows.contains(4));
  }

  // A loaded picture is shown and rendered as loaded: its snapshot is the
  // very bitmap, with every row in the first revision; an edit makes a
  // copy, and the revision names the edited rows only.
  void revisionsCarryTheRowsTheyChanged() {
    PictureDocument document;
    QSignalSpy revised(&document, &PictureDocument::revised);
    std::shared_ptr<const PictureBitmap> loaded = patterned(40, 30);
    document.replace(loaded, "picture.png");
    QCOMPARE(revised.count(), 1);
    QCOMPARE(rowsOf(revised, 0), RowSpans::all(30));
    QCOMPARE(document.snapshot().get(), loaded.get());
    QVERIFY(!document.isModified());

    document.undoStack().push(new EditCommand(document, "fill", [](PictureBitmap& p, TileStore& s) {
      return fillRegion(p, s, PixelRect{3, 7, 9, 12}, Rgb{255, 255, 255});
    }));
    QCOMPARE(revised.count(), 2);
    QCOMPARE(rowsOf(revised, 1), RowSpans(7, 12));
    QVERIFY(document.isModified());
    const auto after = document.snapshot();
    QVERIFY(after.get() != loaded.get());
    for (std::uint32_t y = 0; y < 30; ++y) {
      for (std::uint32_t x = 0; x < 40; ++x) {
        const bool inside = x >= 3 && x < 9 && y >= 7 && y < 12;
        const std::size_t i = offsetOf(*after, x, y);
        QCOMPARE(after->pixels[i], inside ? std::uint8_t{255} : loaded->pixels[i]);
        QCOMPARE(after->red[i], inside ? std::uint8_t{255} : loaded->red[i]);
      }
    }
    document.undoStack().undo();
    QCOMPARE(rowsOf(revised, 2), RowSpans(7, 12));
    QVERIFY(!document.isModified());
    QCOMPARE(planesOf(*document.snapshot()), planesOf(*loaded));
  }

  // A snapshot held by a reader stays as it was whatever happens later; one
  // let go of is brought up to date and handed out again.
  void snapshotsNeverChangeUnderTheirReaders() {
    PictureDocument document;
    document.replace(patterned(64, 200), "");
    QVERIFY(document.makeEditable());
    auto held = document.snapshot();
    QCOMPARE(document.snapshot().get(), held.get());  // nothing changed: the same one
    const std::vector<std::uint8_t> before = planesOf(*held);
    document.undoStack().push(new EditCommand(document, "fill", [](PictureBitmap& p, TileStore& s) {
      return fillRegion(p, s, PixelRect{0, 100, 64, 110}, Rgb{1, 2, 3});
    }));
    auto next = document.snapshot();
    QVERIFY(next.get() != held.get());
    QCOMPARE(planesOf(*held), before);
    QCOMPARE(planesOf(*next), planesOf(*document.picture()));

    // Both let go of: the next snapshot reuses a buffer and copies only
    // what changed, and is still exactly the picture.
    const PictureBitmap* reusable = held.get();
    const PictureBitmap* other = next.get();
    held.reset();
    next.reset();
    document.undoStack().push(new EditCommand(document, "fill", [](PictureBitmap& p, TileStore& s) {
      return fillRegion(p, s, PixelRect{10, 5, 20, 8}, Rgb{200, 100, 50});
    }));
    const auto reused = document.snapshot();
    QVERIFY(reused.get() == reusable || reused.get() == other);
    QCOMPARE(planesOf(*reused), planesOf(*document.picture()));
  }

  // While a drag goes on, revisions come at most every 30 ms with the union
  // of the rows touched meanwhile; the rest comes with the release.
  void dragsPublishThrottledRevisions() {
    PictureDocument document;
    document.replace(patterned(50, 400), "");
    QSignalSpy revised(&document, &PictureDocument::revised);
    OngoingCommand ongoing(document);
    DragCommand& drag = ongoing.begin("stroke");
    Stroke stroke(Stroke::Kind::Paint, BrushShape{3, 1}, 1.0f, Rgb{255, 255, 255});
    drag.add([&](PictureBitmap& p, TileStore& s) { return stroke.segment(p, s, {10, 10}, {10, 40}, 1, 1, true); });
    drag.add([&](PictureBitmap& p, TileStore& s) { return stroke.segment(p, s, {10, 40}, {10, 100}, 1, 1, false); });
    QCOMPARE(revised.count(), 0);  // none yet: the throttle holds them
    QVERIFY(revised.wait(200));
    QCOMPARE(revised.count(), 1);
    const RowSpan first = rowsOf(revised, 0).bounds();
    QVERIFY(first.begin <= 9 && first.end >= 101);
    drag.add([&](PictureBitmap& p, TileStore& s) { return stroke.segment(p, s, {10, 100}, {10, 300}, 1, 1, false); });
    ongoing.commit();
    QCOMPARE(revised.count(), 2);  // the release publishes at once
    QVERIFY(rowsOf(revised, 1).contains(299) && !rowsOf(revised, 1).contains(50));
    QCOMPARE(document.undoStack().count(), 1);  // the drag is one step
    QVERIFY(!revised.wait(60));  // and nothing more follows
  }

  // Random sequences of every kind of edit, undone and redone in random
  // order, give back every byte of every plane of the state they left;
  // with a tiny memory budget the history lives in its file, and still does.
  void undoAndRedoRestoreEveryPixelExactly() {
    for (const std::uint64_t budget : {std::uint64_t{512} << 20, std::uint64_t{1}}) {
      for (unsigned seed = 1; seed <= 3; ++seed) {
        PictureDocument document;
        document.history().setBudget(budget);
        document.replace(patterned(150, 97), "");
        QVERIFY(document.makeEditable());
        std::mt19937 random(seed);
        std::vector<std::vector<std::uint8_t>> states{planesOf(*document.picture())};
        for (int i = 0; i < 40; ++i) {
          randomEdit(document, random);
          states.push_back(planesOf(*document.picture()));
        }
        QCOMPARE(document.undoStack().index(), 40);
        if (budget == 1) QVERIFY(document.history().bytesInFile() > 0);
        for (int step = 0; step < 120; ++step) {
          if (random() % 2 && document.undoStack().canUndo()) {
            document.undoStack().undo();
          } else if (document.undoStack().canRedo()) {
            document.undoStack().redo();
          } else {
            document.undoStack().undo();
          }
          const int at = document.undoStack().index();
          if (planesOf(*document.picture()) != states[static_cast<std::size_t>(at)]) {
            QFAIL(qPrintable(QStringLiteral("budget %1, seed %2: state %3 differs").arg(budget).arg(seed).arg(at)));
          }
        }
        document.undoStack().setIndex(0);
        QVERIFY(planesOf(*document.picture()) == states.front());
        QVERIFY(!document.isModified());
        // The brightness is the colours' everywhere after all of it.
        const PictureBitmap& p = *document.picture();
        for (std::size_t i = 0; i < p.pixels.size(); ++i) QCOMPARE(p.pixels[i], brightnessOf(p.red[i], p.green[i], p.blue[i]));
      }
    }
  }

  // A change of most of the picture is undone and redone by swapping whole
  // planes (no byte is copied: the planes themselves change places), also
  // after its history went to the file and came back; a small change keeps
  // tiles. Merging a later change into a whole one still undoes exactly.
  void largeChangesSwapWholePlanes() {
    for (const std::uint64_t budget : {std::uint64_t{512} << 20, std::uint64_t{1}}) {
      PictureDocument document;
      document.history().setBudget(budget);
      document.replace(patterned(300, 200), "");
      QVERIFY(document.makeEditable());
      const std::vector<std::uint8_t> original = planesOf(*document.picture());
      document.undoStack().push(new EditCommand(document, "small", [](PictureBitmap& p, TileStore& s) {
        return adjustRegion(p, s, PixelRect{10, 10, 60, 60}, 30, 1.2);
      }));
      const auto* small = static_cast<const PictureCommand*>(document.undoStack().command(0));
      QVERIFY(!small->store().whole());
      const std::vector<std::uint8_t> afterSmall = planesOf(*document.picture());
      document.undoStack().push(new EditCommand(document, "large", [](PictureBitmap& p, TileStore& s) {
        return adjustRegion(p, s, PixelRect{0, 0, 250, 150}, -20, 1.5);
      }));
      const auto* large = static_cast<const PictureCommand*>(document.undoStack().command(1));
      QVERIFY(large->store().whole());
      const std::vector<std::uint8_t> afterLarge = planesOf(*document.picture());
      // Another step after it, so that with the tiny budget it goes to the file.
      document.undoStack().push(new EditCommand(document, "fill", [](PictureBitmap& p, TileStore& s) {
        return fillRegion(p, s, PixelRect{280, 180, 290, 190}, Rgb{9, 9, 9});
      }));
      if (budget == 1) QVERIFY(document.history().bytesInFile() >= 4u * 300 * 200);
      document.undoStack().undo();
      const std::uint8_t* red = document.picture()->red.data();
      document.undoStack().undo();
      QVERIFY(document.picture()->red.data() != red);  // swapped, not copied
      QCOMPARE(planesOf(*document.picture()), afterSmall);
      document.undoStack().redo();
      QCOMPARE(planesOf(*document.picture()), afterLarge);
      document.undoStack().setIndex(0);
      QCOMPARE(planesOf(*document.picture()), original);
    }
    PictureDocument document;
    document.replace(patterned(200, 200), "");
    const std::vector<std::uint8_t> original = planesOf(*document.picture());
    for (int i = 0; i < 3; ++i) {
      document.undoStack().push(new EditCommand(
          document, "nudge",
          [i](PictureBitmap& p, TileStore& s) {
            return moveRegion(p, s, PixelRect{i, 0, 190 + i, 180}, 1, 0);
          },
          5));
    }
    QCOMPARE(document.undoStack().count(), 1);
    document.undoStack().undo();
    QCOMPARE(planesOf(*document.picture()), original);
  }

  // A fill of most of the picture over one colour is kept whole, like any
  // change of most of it: undo and redo swap the planes, give back every
  // byte, and the history counts the whole planes against its budget (and
  // moves them to its file beyond it). A fill of a small part keeps a colour
  // a tile.
  void fillsOverOneColour() {
    for (const std::uint64_t budget : {std::uint64_t{512} << 20, std::uint64_t{1}}) {
      PictureDocument document;
      document.history().setBudget(budget);
      document.replace(blankPicture(640, 640), "");
      const std::vector<std::uint8_t> blank = planesOf(*document.picture());
      for (const Rgb colour : {Rgb{0, 0, 0}, Rgb{255, 255, 255}, Rgb{10, 200, 30}}) {
        document.undoStack().push(new EditCommand(document, "fill", [colour](PictureBitmap& p, TileStore& s) {
          return fillRegion(p, s, PixelRect{0, 0, 640, 640}, colour);
        }));
      }
      document.undoStack().push(new EditCommand(document, "corner", [](PictureBitmap& p, TileStore& s) {
        return fillRegion(p, s, PixelRect{0, 0, 200, 200}, Rgb{1, 2, 3});
      }));
      const std::vector<std::uint8_t> last = planesOf(*document.picture());
      const std::uint64_t whole = pictureBytes(640, 640);
      for (int i = 0; i < 3; ++i) {
        const auto* fill = static_cast<const PictureCommand*>(document.undoStack().command(i));
        QVERIFY(fill->store().whole());
      }
      const auto* corner = static_cast<const PictureCommand*>(document.undoStack().command(3));
      QVERIFY(!corner->store().whole());
      QVERIFY2(corner->store().bytes() < 100u * 1024, qPrintable(QString::number(corner->store().bytes())));
      if (budget == 1) {
        QVERIFY(document.history().bytesInFile() >= 2 * whole);
        QVERIFY(document.history().bytesInMemory() < 100u * 1024);
      } else {
        QVERIFY(document.history().bytesInMemory() >= 3 * whole);
        QVERIFY(document.history().bytesInMemory() < 3 * whole + 200u * 1024);
      }
      document.undoStack().undo();
      QCOMPARE(colourAt(*document.picture(), 100, 100), (Rgb{10, 200, 30}));
      const std::uint8_t* red = document.picture()->red.data();
      document.undoStack().undo();
      QVERIFY(document.picture()->red.data() != red);  // swapped, not written
      QCOMPARE(colourAt(*document.picture(), 639, 0), (Rgb{255, 255, 255}));
      QCOMPARE(colourAt(*document.picture(), 0, 639), (Rgb{255, 255, 255}));
      document.undoStack().undo();
      QCOMPARE(colourAt(*document.picture(), 17, 300), (Rgb{0, 0, 0}));
      document.undoStack().undo();
      QCOMPARE(planesOf(*document.picture()), blank);
      document.undoStack().setIndex(4);
      QCOMPARE(planesOf(*document.picture()), last);
    }
  }

  // What an undo tells the views is the kept tiles, a run of side-by-side
  // tiles at a time, not the stretch between two changes in one row.
  void undoRedrawsOnlyTheKeptTiles() {
    PictureDocument document;
    document.replace(patterned(640, 128), "");
    document.undoStack().push(new EditCommand(document, "two", [](PictureBitmap& p, TileStore& s) {
      const PixelRect a = fillRegion(p, s, PixelRect{5, 5, 70, 20}, Rgb{1, 1, 1});
      return a.united(fillRegion(p, s, PixelRect{600, 10, 610, 20}, Rgb{2, 2, 2}));
    }));
    QSignalSpy areas(&document, &PictureDocument::areaChanged);
    document.undoStack().undo();
    QCOMPARE(areas.count(), 2);
    QCOMPARE(areas.at(0).at(0).toRect(), QRect(0, 0, 128, 64));
    QCOMPARE(areas.at(1).at(0).toRect(), QRect(576, 0, 64, 64));
  }

  // Nudges of one selection by the arrow keys are one step; another
  // selection's nudges are another.
  void nudgesOfOneSelectionMerge() {
    PictureDocument document;
    document.replace(patterned(40, 40), "");
    const std::vector<std::uint8_t> original = planesOf(*document.picture());
    for (int i = 0; i < 5; ++i) {
      const PixelRect r{5 + i, 5, 15 + i, 15};
      document.undoStack().push(new EditCommand(document, "nudge", [r](PictureBitmap& p, TileStore& s) {
        return moveRegion(p, s, r, 1, 0);
      }, 77));
    }
    QCOMPARE(document.undoStack().count(), 1);
    document.undoStack().push(new EditCommand(document, "nudge", [](PictureBitmap& p, TileStore& s) {
      return moveRegion(p, s, PixelRect{20, 20, 30, 30}, 0, 1);
    }, 78));
    QCOMPARE(document.undoStack().count(), 2);
    document.undoStack().undo();
    document.undoStack().undo();
    QVERIFY(planesOf(*document.picture()) == original);
  }

  // A picture loaded in grey or made of red and green (a stereo analysis)
  // keeps its brightness bytes when it becomes editable.
  void editableCopiesKeepTheBrightnessOfEveryKindOfPicture() {
    auto grey = std::make_shared<PictureBitmap>();
    grey->width = 5;
    grey->height = 3;
    grey->stride = 8;
    grey->pixels.resize(24);
    for (std::size_t i = 0; i < 24; ++i) grey->pixels[i] = static_cast<std::uint8_t>(i * 11);
    auto copy = editableCopy(*grey);
    QVERIFY(copy);
    for (std::uint32_t y = 0; y < 3; ++y)
      for (std::uint32_t x = 0; x < 5; ++x) QCOMPARE(copy->pixels[offsetOf(*copy, x, y)], grey->pixels[offsetOf(*grey, x, y)]);
    auto stereo = std::make_shared<PictureBitmap>(*grey);
    stereo->red.resize(24);
    stereo->green.resize(24);
    for (std::size_t i = 0; i < 24; ++i) {
      stereo->red[i] = static_cast<std::uint8_t>(250 - i * 9);
      stereo->green[i] = static_cast<std::uint8_t>(i * 7);
      stereo->pixels[i] = brightnessOf(stereo->red[i], stereo->green[i], 0);
    }
    copy = editableCopy(*stereo);
    for (std::uint32_t y = 0; y < 3; ++y) {
      for (std::uint32_t x = 0; x < 5; ++x) {
        const std::size_t i = offsetOf(*copy, x, y);
        QCOMPARE(copy->pixels[i], stereo->pixels[i]);
        QCOMPARE(copy->blue[i], std::uint8_t{0});
      }
    }
  }
};

QTEST_MAIN(PictureDocumentTest)
#include "picture_document_test.moc"
