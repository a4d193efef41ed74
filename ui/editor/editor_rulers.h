// SPDX-License-Identifier: GPL-3.0-or-later
// The editor's time ruler (left of the picture) and frequency ruler
// (below it): the preview's scales, rulers and titles, over the part of
// the picture in view at the editor's zoom. Times and frequencies stand
// where the render places them (timeAt, ColumnScale), so a tick lies on
// the row or column that sounds at its value.
#pragma once

#include <QWidget>

#include "engine/settings.h"
#include "ui/axes/rulers.h"

namespace vellomar {

class EditorCanvas;
class PictureDocument;

// The frequency ruler over picture x from `x0` to `x1` (x ... x + 1 is a
// column), `length` pixels long from `start`, for the settings' scale and
// band and a picture `width` columns wide. The band's ends, where they are
// in view, have the preview's end marks and labels. `logarithmic` tells
// whether it is laid out warped (zoomed far in, a stretch is as good as
// straight and gets linear ticks).
RulerSpec editorFrequencyRuler(const RenderSettings& settings, std::uint32_t width, double x0, double x1, int start,
                               int length, bool& logarithmic);

// The frequency ruler laid out as the editor shows it, and its title: as
// editorFrequencyRuler, naming notes of the tuning A4 = `notesA4Hz` on the
// Logarithmic scale when that is above 0 (as the preview's axis does), and
// hertz otherwise.
struct EditorFrequencyAxis {
  RulerGeometry geometry;
  QString title;
};
EditorFrequencyAxis layoutEditorFrequencyRuler(const RenderSettings& settings, std::uint32_t width, double x0,
                                               double x1, int start, int length, double notesA4Hz,
                                               const TextMeasurer& measure);

// The time ruler over picture y from `y0` to `y1` for a sound of
// `durationSeconds` and a picture `height` rows high (minutes from 300 s).
RulerSpec editorTimeRuler(float durationSeconds, std::uint32_t height, double y0, double y1, int start, int length,
                          int baseline);

class EditorRuler : public QWidget {
  Q_OBJECT

 public:
  enum class Axis { Time, Frequency };
  static constexpr int kTimeWidth = 64;
  static constexpr int kFrequencyHeight = 46;

  EditorRuler(Axis axis, const PictureDocument& document, const EditorCanvas& canvas, QWidget* parent = nullptr);

  // What the ruler showed when last painted (tests read it).
  const RulerGeometry& geometry() const { return geometry_; }

 signals:
  // The time ruler was clicked at `fraction` of the picture's height
  // (0 its top edge, 1 its bottom edge), as the preview's time axis is.
  void timeClicked(double fraction);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;

 private:
  Axis axis_;
  const PictureDocument& document_;
  const EditorCanvas& canvas_;
  RulerGeometry geometry_;
};

}  // namespace vellomar
