// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/editor/editor_rulers.h"

#include <QMouseEvent>
#include <QPainter>
#include <algorithm>
#include <cmath>

#include "ui/axes/axes.h"
#include "ui/common/app_state.h"
#include "ui/document/column_scale.h"
#include "ui/document/picture_document.h"
#include "ui/editor/editor_canvas.h"
#include "ui/editor/readouts.h"
#include "ui/editor/sound_edit.h"

namespace vellomar {

namespace {

// Below this ratio of its ends a warped ruler's stretch is as good as
// straight (within a pixel on any screen): it gets linear ticks, which
// keep coming however far in the view zooms.
constexpr double kStraightRatio = 1.5;
// Note names need two semitones in view or more.
constexpr double kNotesRatio = 1.1225;  // 2^(2/12)

// Decimals of labels `major` apart.
int decimalsFor(float major) {
  if (!(major > 0.0f)) return 0;
  return std::clamp(static_cast<int>(std::ceil(-std::log10(major) - 1e-6)), 0, 6);
}

}  // namespace

RulerSpec editorFrequencyRuler(const RenderSettings& settings, std::uint32_t width, double x0, double x1, int start,
                               int length, bool& logarithmic) {
  const ColumnScale scale(settings, width);
  RulerSpec spec;
  spec.vertical = false;
  spec.ticksPositive = true;
  spec.baseline = 2;
  spec.start = start;
  spec.tickLength = 10;
  spec.length = length;
  spec.endRoom = 9;
  spec.from = static_cast<float>(scale.frequencyAt(x0 - 0.5));
  spec.to = static_cast<float>(scale.frequencyAt(x1 - 0.5));
  spec.siPrefixes = true;
  // The band's ends in view: marked and labelled as on the preview's axis
  // (the top of the scale's own band in whole hertz).
  spec.startMarked = x0 - 0.5 <= 1e-9;
  spec.endMarked = x1 - 0.5 >= scale.lastPosition() - 1e-9;
  spec.endMarks = spec.startMarked || spec.endMarked;
  if (spec.startMarked) spec.from = static_cast<float>(scale.lowHz());
  if (spec.endMarked)
    spec.to = isOwnBand(settings) ? static_cast<float>(settings.sampleRate / 2) : static_cast<float>(scale.highHz());
  const ScaleMapping mapping = pictureMapping(settings, 1.0f);
  logarithmic = mapping.warp != nullptr && spec.from > 0.0f && spec.to / spec.from >= kStraightRatio;
  if (logarithmic) {
    spec.mapping = mapping.warp;
    spec.precision = 2;
    spec.endPrecision = 4;
    spec.minorLabelGap = 36;
    if (settings.frequencyScale == FrequencyScale::Mel) spec.tickFilter = keepMelMinorTick;
  } else {
    spec.minTickGap = 12;
    const TickSpacing spacing = chooseTickSpacing(std::fabs(spec.to - spec.from) / std::max(1, length), spec.minTickGap);
    spec.precision = bandLabelPrecision(spacing.major, spec.from, spec.to, 0);
    spec.endPrecision = std::max(2, spec.precision);
  }
  return spec;
}

EditorFrequencyAxis layoutEditorFrequencyRuler(const RenderSettings& settings, std::uint32_t width, double x0,
                                               double x1, int start, int length, double notesA4Hz,
                                               const TextMeasurer& measure) {
  EditorFrequencyAxis axis;
  bool logarithmic = false;
  RulerSpec spec = editorFrequencyRuler(settings, width, x0, x1, start, length, logarithmic);
  // Notes where a couple of semitones are in view; closer in, hertz.
  const bool notes = notesA4Hz > 0.0 && settings.frequencyScale == FrequencyScale::Logarithmic && spec.from > 0.0f &&
                     spec.to / spec.from >= kNotesRatio;
  axis.title = frequencyAxisTitle(notes ? notesA4Hz : 0.0);
  if (notes) {
    spec.mapping = pictureMapping(settings, 1.0f).warp;
    axis.geometry = layoutNoteRuler(spec, notesA4Hz, measure);
    return axis;
  }
  if (!logarithmic) {
    fitBandLabels(spec, spec.precision, measure);
    axis.geometry = layoutLinearRuler(spec, measure);
    return axis;
  }
  axis.geometry = layoutLogRuler(spec, measure);
  // A minor tick's label is its leading digit alone (2 for 2000 Hz);
  // zoomed in, with no power of ten in view to read it by, each says its
  // whole value.
  // Longer now, such a label may reach a marked end: it goes then.
  const ColumnScale scale(settings, width);
  std::vector<RulerText>& texts = axis.geometry.texts;
  for (auto it = texts.begin(); it != texts.end();) {
    if (it->text.size() != 1 || length <= 0) {
      ++it;
      continue;
    }
    const double x = x0 + (x1 - x0) * (it->x - start) / length;
    const double hz = scale.frequencyAt(x - 0.5);
    const double decade = std::pow(10.0, std::floor(std::log10(hz)));
    it->text = formatAxisNumber(static_cast<float>(std::round(hz / decade) * decade), 2, true, true, false);
    const int half = measure(it->text).width / 2;
    const bool reaches = (spec.endMarks && spec.startMarked && it->x - half <= start + 2) ||
                         (spec.endMarks && spec.endMarked && it->x + half >= start + length - 2);
    it = reaches ? texts.erase(it) : it + 1;
  }
  return axis;
}

RulerSpec editorTimeRuler(float durationSeconds, std::uint32_t height, double y0, double y1, int start, int length,
                          int baseline) {
  const bool minutes = durationSeconds >= 300.0f;
  const double unit = minutes ? 60.0 : 1.0;
  RulerSpec spec;
  spec.vertical = true;
  spec.ticksPositive = false;
  spec.baseline = baseline;
  spec.start = start;
  spec.tickLength = 10;
  spec.length = length;
  spec.from = static_cast<float>(timeAt(y0, height, durationSeconds) / unit);
  spec.to = static_cast<float>(timeAt(y1, height, durationSeconds) / unit);
  spec.minTickGap = 6;
  const TickSpacing spacing = chooseTickSpacing(std::fabs(spec.to - spec.from) / std::max(1, length), spec.minTickGap);
  spec.precision = decimalsFor(spacing.major);
  return spec;
}

EditorRuler::EditorRuler(Axis axis, const PictureDocument& document, const EditorCanvas& canvas, QWidget* parent)
    : QWidget(parent), axis_(axis), document_(document), canvas_(canvas) {
  setObjectName(axis == Axis::Time ? QStringLiteral("timeRuler") : QStringLiteral("frequencyRuler"));
  if (axis == Axis::Time) {
    setFixedWidth(kTimeWidth);
  } else {
    setFixedHeight(kFrequencyHeight);
  }
}

void EditorRuler::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.fillRect(rect(), palette().color(QPalette::Window));
  geometry_ = RulerGeometry{};
  const std::uint32_t w = document_.width(), h = document_.height();
  if (w == 0 || h == 0) return;
  const QColor text = palette().color(QPalette::WindowText);
  const QFont font = rulerFont();
  const TextMeasurer measure = rulerMeasurer(font, this);
  const QWidget* view = canvas_.viewport();
  // The part of the picture in view, from the centre of its first row or
  // column in view to the centre of the last: where the rows and columns
  // sound.
  const QRectF shown = canvas_.pictureRect().intersected(QRectF(view->rect()));
  if (shown.isEmpty()) return;
  const QPointF a = canvas_.toPicture(shown.topLeft());
  const QPointF b = canvas_.toPicture(shown.bottomRight());
  // The viewport is no child of the ruler: both meet in the window.
  const QPoint origin = view->mapTo(window(), QPoint(0, 0)) - mapTo(window(), QPoint(0, 0));
  const EditorAxes axes = editorAxes(document_);
  const float duration = axes.durationSeconds;
  QString title;
  if (axis_ == Axis::Frequency) {
    const double x0 = std::max(0.5, a.x()), x1 = std::min(w - 0.5, b.x());
    if (x1 <= x0) return;
    const int start = origin.x() + static_cast<int>(std::lround(canvas_.toViewport(QPointF(x0, 0)).x()));
    const int end = origin.x() + static_cast<int>(std::lround(canvas_.toViewport(QPointF(x1, 0)).x()));
    EditorFrequencyAxis axis =
        layoutEditorFrequencyRuler(axes.settings, w, x0, x1, start, end - start, axisNotesA4Hz(), measure);
    geometry_ = std::move(axis.geometry);
    title = axis.title;
    paintRuler(painter, geometry_, font, text);
    painter.setFont(font);
    painter.setPen(text);
    const QFontMetrics metrics(font);
    const int middle = origin.x() + view->width() / 2;
    painter.drawText(middle - metrics.horizontalAdvance(title) / 2, height() - 2 - metrics.descent(), title);
    return;
  }
  const double y0 = h < 2 ? std::max(0.0, a.y()) : std::max(0.5, a.y());
  const double y1 = h < 2 ? std::min<double>(h, b.y()) : std::min(h - 0.5, b.y());
  if (y1 <= y0 || duration <= 0.0f) {
    title = timeAxisTitle(0.0f);
  } else {
    const int start = origin.y() + static_cast<int>(std::lround(canvas_.toViewport(QPointF(0, y0)).y()));
    const int end = origin.y() + static_cast<int>(std::lround(canvas_.toViewport(QPointF(0, y1)).y()));
    const RulerSpec spec = editorTimeRuler(duration, h, y0, y1, start, end - start, width() - 2);
    geometry_ = layoutLinearRuler(spec, measure);
    paintRuler(painter, geometry_, font, text);
    title = timeAxisTitle(duration);
  }
  // The title reads upward along the left edge.
  painter.setFont(font);
  painter.setPen(text);
  const QFontMetrics metrics(font);
  painter.save();
  painter.translate(2, origin.y() + view->height() / 2);
  painter.rotate(-90);
  painter.drawText(-metrics.horizontalAdvance(title) / 2, metrics.ascent(), title);
  painter.restore();
}

void EditorRuler::mousePressEvent(QMouseEvent* event) {
  const std::uint32_t h = document_.height();
  if (axis_ != Axis::Time || event->button() != Qt::LeftButton || h == 0) {
    QWidget::mousePressEvent(event);
    return;
  }
  // The viewport is no child of the ruler: both meet in the window.
  const QWidget* view = canvas_.viewport();
  const QPoint origin = view->mapTo(window(), QPoint(0, 0)) - mapTo(window(), QPoint(0, 0));
  const double y = canvas_.toPicture(QPointF(0, event->position().y() - origin.y())).y();
  emit timeClicked(std::clamp(y / h, 0.0, 1.0));
}

}  // namespace vellomar
