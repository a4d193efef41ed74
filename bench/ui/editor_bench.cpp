// SPDX-License-Identifier: GPL-3.0-or-later
// The editor on a 4000 x 4000 picture: how long one brush segment takes to
// be painted into the picture and shown on the canvas, at several zooms;
// how long an undo or a redo takes until it is shown, of a stroke, of a
// change of every pixel and of a fill of the whole picture over one colour
// (wall-clock and this thread's processor time, the views' updates
// included); what the history holds in memory and in its file; and what a
// snapshot for a render costs after an edit.
//
//   bench_editor_bench [side [segments]]   (default 4000, 300)
//
// Runs on Qt's offscreen platform unless another is chosen. Every time is
// wall-clock on this machine, which others share: repeat it.

#include <QApplication>
#include <QElapsedTimer>
#include <time.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "ui/common/app_state.h"
#include "ui/document/picture_document.h"
#include "ui/document/region_ops.h"
#include "ui/editor/editor_canvas.h"
#include "ui/editor/editor_window.h"
#include "ui/editor/tool_controller.h"
#include "ui/main_window/main_window.h"
#include "ui/main_window/window_commands.h"

using namespace vellomar;

namespace {

struct Figures {
  double median = 0, p95 = 0, worst = 0;
};

Figures figuresOf(std::vector<double> ms) {
  std::sort(ms.begin(), ms.end());
  Figures f;
  if (ms.empty()) return f;
  f.median = ms[ms.size() / 2];
  f.p95 = ms[std::min(ms.size() - 1, ms.size() * 95 / 100)];
  f.worst = ms.back();
  return f;
}

// A picture with detail everywhere, as a photograph or an analysis has.
std::shared_ptr<PictureBitmap> detailed(std::uint32_t side) {
  std::shared_ptr<PictureBitmap> p = blankPicture(side, side);
  std::uint32_t state = 12345;
  for (std::uint32_t y = 0; y < side; ++y) {
    for (std::uint32_t x = 0; x < side; ++x) {
      state = state * 1664525u + 1013904223u;
      const auto v = static_cast<std::uint8_t>((x ^ y) + (state >> 28));
      setColour(*p, x, y, Rgb{v, static_cast<std::uint8_t>(v / 2 + (state >> 29)), static_cast<std::uint8_t>(255 - v)});
    }
  }
  return p;
}

// Paint and show everything pending: the canvas paints what changed.
void show() { QApplication::processEvents(QEventLoop::ExcludeUserInputEvents); }

double elapsedMs(const QElapsedTimer& t) { return static_cast<double>(t.nsecsElapsed()) / 1e6; }

// This thread's processor time in ms: what a step costs, whatever else the
// machine runs meanwhile.
double cpuMs() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  const std::uint32_t side = argc > 1 ? static_cast<std::uint32_t>(std::atoi(argv[1])) : 4000;
  const int segments = argc > 2 ? std::atoi(argv[2]) : 300;

  MainWindow window;
  window.show();
  QElapsedTimer clock;
  clock.start();
  showPicture(window, detailed(side), std::string());
  EditorWindow* editor = openEditor(window);
  editor->resize(1400, 950);
  show();
  std::printf("%u x %u picture; editor open in %.0f ms (editable: %s)\n", side, side, elapsedMs(clock),
              editor->readOnly() ? "no" : "yes");
  PictureDocument& document = window.document();
  ToolController& tools = editor->tools();
  EditorCanvas& canvas = *editor->canvas();
  // What a segment changed, in the canvas's viewport: painted at once, as
  // the window system would paint it at its next frame.
  QRect changed;
  QObject::connect(&document, &PictureDocument::areaChanged, [&](const QRect& area) {
    const QRectF shown(canvas.toViewport(area.topLeft()), canvas.toViewport(area.bottomRight() + QPoint(1, 1)));
    changed = changed.united(shown.toAlignedRect().adjusted(-1, -1, 1, 1));
  });
  const auto paintChanged = [&] {
    changed = changed.intersected(canvas.viewport()->rect());
    if (!changed.isEmpty()) canvas.viewport()->repaint(changed);
    changed = QRect();
  };
  tools.settings().tool = Tool::Brush;
  tools.settings().brush = BrushShape{30.0f, 0.5f};
  tools.settings().opacity = 0.8f;

  std::printf("\nOne brush segment (30 px brush, 12 px segments), painted and shown:\n");
  std::printf("%10s %10s %10s %10s %12s %12s\n", "zoom", "median ms", "p95 ms", "worst ms", "cpu p95 ms", "cpu worst ms");
  std::vector<double> revisions, revisionCpu;
  for (const double zoom : {0.0, 0.25, 1.0, 4.0, 32.0}) {
    if (zoom == 0.0) {
      canvas.zoomToFit();
    } else {
      canvas.setZoom(zoom);
    }
    show();
    // The stroke bounces around the middle of the view, 12 screen pixels a
    // segment (a mouse's move between two events), so 60 picture pixels a
    // segment at 20% and a third of one at 3200%.
    const QRectF box(canvas.viewport()->width() * 0.2, canvas.viewport()->height() * 0.2,
                     canvas.viewport()->width() * 0.6, canvas.viewport()->height() * 0.6);
    QPointF pointer = box.center();
    QPointF step(12.0 * std::cos(0.7), 12.0 * std::sin(0.7));
    std::vector<double> ms, cpu;
    const auto picturePoint = [&](QPointF v) {
      const QPointF p = canvas.toPicture(v);
      return PointF{static_cast<float>(p.x()), static_cast<float>(p.y())};
    };
    PointF at = picturePoint(pointer);
    tools.press(at, 1.0f);
    paintChanged();
    show();
    for (int i = 0; i < segments; ++i) {
      QPointF next = pointer + step;
      if (next.x() < box.left() || next.x() > box.right()) step.setX(-step.x());
      if (next.y() < box.top() || next.y() > box.bottom()) step.setY(-step.y());
      pointer += step;
      at = picturePoint(pointer);
      clock.restart();
      const double cpuStart = cpuMs();
      tools.move(at, 1.0f);
      paintChanged();
      ms.push_back(elapsedMs(clock));
      cpu.push_back(cpuMs() - cpuStart);
      if (std::getenv("EDITOR_BENCH_TRACE") && ms.back() > 16.0) std::printf("  segment %d: %.1f ms\n", i, ms.back());
      // Between two moves the window does the rest: the throttled revision
      // (the main window's preview and the snapshot a render reads).
      const std::uint64_t revision = document.revision();
      clock.restart();
      const double showStart = cpuMs();
      show();
      if (document.revision() != revision) {
        revisions.push_back(elapsedMs(clock));
        revisionCpu.push_back(cpuMs() - showStart);
        if (std::getenv("EDITOR_BENCH_TRACE") && revisionCpu.back() > 5.0) std::printf("  revision after segment %d: %.1f ms\n", i, revisionCpu.back());
      }
    }
    tools.release(at);
    show();
    const Figures f = figuresOf(ms);
    const Figures c = figuresOf(cpu);
    std::printf("%9.0f%% %10.2f %10.2f %10.2f %12.2f %12.2f\n", canvas.zoom() * 100.0, f.median, f.p95, f.worst, c.p95,
                c.worst);
  }

  const Figures r = figuresOf(revisions);
  const Figures rc = figuresOf(revisionCpu);
  std::printf("A throttled revision during the strokes (%zu of them), its readers included: median %.2f ms, worst %.2f ms"
              " (processor time: median %.2f ms, worst %.2f ms)\n",
              revisions.size(), r.median, r.worst, rc.median, rc.worst);

  std::printf("\nUndo until shown (the strokes above, then redo):\n");
  canvas.zoomToFit();
  show();
  std::vector<double> undos, undoCpu;
  for (int i = 0; i < 5; ++i) {
    clock.restart();
    const double cpuStart = cpuMs();
    document.undoStack().undo();
    const double undone = elapsedMs(clock);
    paintChanged();
    undos.push_back(elapsedMs(clock));
    undoCpu.push_back(cpuMs() - cpuStart);
    if (std::getenv("EDITOR_BENCH_TRACE")) std::printf("  undo %.1f ms, shown at %.1f ms\n", undone, undos.back());
    show();
  }
  if (const char* loop = std::getenv("EDITOR_BENCH_UNDO_LOOP")) {
    // For a profiler: the largest stroke undone and redone again and again.
    for (int i = 0; i < std::atoi(loop); ++i) {
      document.undoStack().redo();
      document.undoStack().undo();
      show();
    }
  }
  for (int i = 0; i < 5; ++i) document.undoStack().redo();
  show();
  Figures f = figuresOf(undos);
  const Figures fc = figuresOf(undoCpu);
  std::printf("  stroke undo: median %.2f ms, worst %.2f ms (processor time: median %.2f ms, worst %.2f ms)\n", f.median,
              f.worst, fc.median, fc.worst);

  // A change of every pixel: brightness and contrast of the whole picture,
  // then undone and redone again and again.
  clock.restart();
  document.undoStack().push(new EditCommand(document, "adjust", [side](PictureBitmap& p, TileStore& s) {
    return adjustRegion(p, s, PixelRect{0, 0, side, side}, 20, 1.2);
  }));
  paintChanged();
  const double whole = elapsedMs(clock);
  show();
  std::vector<double> wholeUndos, wholeUndoCpu, wholeRedos, wholeRedoCpu;
  const auto timed = [&](bool undo, std::vector<double>& ms, std::vector<double>& cpu) {
    clock.restart();
    const double cpuStart = cpuMs();
    if (undo) {
      document.undoStack().undo();
    } else {
      document.undoStack().redo();
    }
    paintChanged();
    ms.push_back(elapsedMs(clock));
    cpu.push_back(cpuMs() - cpuStart);
    show();
  };
  for (int i = 0; i < 5; ++i) {
    timed(true, wholeUndos, wholeUndoCpu);
    timed(false, wholeRedos, wholeRedoCpu);
  }
  // Two fills of the whole picture, black and then white: what the second
  // keeps is one colour everywhere.
  for (const Rgb colour : {Rgb{0, 0, 0}, Rgb{255, 255, 255}}) {
    document.undoStack().push(new EditCommand(document, "fill", [side, colour](PictureBitmap& p, TileStore& s) {
      return fillRegion(p, s, PixelRect{0, 0, side, side}, colour);
    }));
    paintChanged();
    show();
  }
  std::vector<double> fillUndos, fillUndoCpu, fillRedos, fillRedoCpu;
  for (int i = 0; i < 5; ++i) {
    timed(true, fillUndos, fillUndoCpu);
    timed(false, fillRedos, fillRedoCpu);
  }
  document.undoStack().undo();
  document.undoStack().undo();
  show();
  const Figures wu = figuresOf(wholeUndos), wuc = figuresOf(wholeUndoCpu);
  const Figures wr = figuresOf(wholeRedos), wrc = figuresOf(wholeRedoCpu);
  std::printf("  whole-picture brightness/contrast: %.1f ms\n", whole);
  std::printf("    its undo: median %.2f ms, worst %.2f ms (processor time: median %.2f ms, worst %.2f ms)\n",
              wu.median, wu.worst, wuc.median, wuc.worst);
  std::printf("    its redo: median %.2f ms, worst %.2f ms (processor time: median %.2f ms, worst %.2f ms)\n",
              wr.median, wr.worst, wrc.median, wrc.worst);
  const Figures fu = figuresOf(fillUndos), fuc = figuresOf(fillUndoCpu);
  const Figures fr = figuresOf(fillRedos), frc = figuresOf(fillRedoCpu);
  std::printf("  a white fill of the whole picture over a black one\n");
  std::printf("    its undo: median %.2f ms, worst %.2f ms (processor time: median %.2f ms, worst %.2f ms)\n",
              fu.median, fu.worst, fuc.median, fuc.worst);
  std::printf("    its redo: median %.2f ms, worst %.2f ms (processor time: median %.2f ms, worst %.2f ms)\n",
              fr.median, fr.worst, frc.median, frc.worst);
  if (const char* loop = std::getenv("EDITOR_BENCH_WHOLE_LOOP")) {
    // For a profiler: the whole-picture change undone and redone.
    for (int i = 0; i < std::atoi(loop); ++i) {
      document.undoStack().undo();
      paintChanged();
      show();
      document.undoStack().redo();
      paintChanged();
      show();
    }
  }

  // Snapshots for renders after an edit.
  std::vector<double> snaps;
  for (int i = 0; i < 20; ++i) {
    tools.press(PointF{100.0f + i * 30, 200.0f}, 1.0f);
    tools.move(PointF{100.0f + i * 30, 260.0f}, 1.0f);
    tools.release(PointF{100.0f + i * 30, 260.0f});
    clock.restart();
    std::shared_ptr<const PictureBitmap> snap = document.snapshot();
    snaps.push_back(elapsedMs(clock));
  }
  f = figuresOf(snaps);
  // The main window's preview takes the snapshot of each revision as it is
  // published (its cost is in the revision's figure above); a render asking
  // after that is handed the same one.
  std::printf("\nSnapshot asked for after a stroke (the preview's, handed out again): median %.2f ms, worst %.2f ms\n",
              f.median, f.worst);

  const HistoryMemory& history = document.history();
  std::printf("\nHistory: %zu steps, %.1f MB in memory, %.1f MB in its file; budget %.0f MB\n",
              static_cast<std::size_t>(document.undoStack().count()), history.bytesInMemory() / 1048576.0,
              history.bytesInFile() / 1048576.0, history.budget() / 1048576.0);
  return 0;
}
