// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/editor/editor_canvas.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPaintEngine>
#include <QPainter>
#include <QScrollBar>
#include <QTabletEvent>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>

#include "ui/document/picture_document.h"
#include "ui/editor/editor_memory.h"
#include "ui/editor/tool_controller.h"

namespace vellomar {

namespace {

// The zoom steps of Zoom in and Zoom out.
constexpr double kSteps[] = {1.0 / 64, 1.0 / 32, 1.0 / 16, 1.0 / 8, 1.0 / 4, 1.0 / 3, 1.0 / 2, 2.0 / 3,
                             1.0,      1.5,      2.0,      3.0,     4.0,     6.0,     8.0,     12.0,
                             16.0,     24.0,     32.0};
// Room around the picture when it fits the view.
constexpr int kFitMargin = 8;
// Pixels of a reduced view at most (a picture too big to edit).
constexpr std::uint64_t kMaxReducedPixels = std::uint64_t{16} << 20;

QRgb colourOf(const PictureBitmap& p, std::size_t i, bool colour, bool blue) {
  if (!colour) return qRgb(p.pixels[i], p.pixels[i], p.pixels[i]);
  return qRgb(p.red[i], p.green[i], blue ? p.blue[i] : 0);
}

// One row of colour planes as opaque RGB32 pixels. In blocks of a fixed
// count, so that the compiler turns each into vector instructions.
void packRow(const std::uint8_t* __restrict red, const std::uint8_t* __restrict green,
             const std::uint8_t* __restrict blue, QRgb* __restrict line, int n) {
  constexpr int kBlock = 32;
  int x = 0;
  for (; x + kBlock <= n; x += kBlock) {
    for (int i = 0; i < kBlock; ++i) {
      line[x + i] =
          0xFF000000u | static_cast<QRgb>(red[x + i]) << 16 | static_cast<QRgb>(green[x + i]) << 8 | blue[x + i];
    }
  }
  for (; x < n; ++x)
    line[x] = 0xFF000000u | static_cast<QRgb>(red[x]) << 16 | static_cast<QRgb>(green[x]) << 8 | blue[x];
}

bool isPaintingTool(Tool tool) {
  return tool == Tool::Brush || tool == Tool::Eraser || tool == Tool::Soften || tool == Tool::Harmonics;
}

}  // namespace

EditorCanvas::EditorCanvas(PictureDocument& document, ToolController& tools, QWidget* parent)
    : QAbstractScrollArea(parent), document_(document), tools_(tools) {
  setObjectName(QStringLiteral("editorCanvas"));
  viewport()->setMouseTracking(true);
  viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
  viewport()->setAttribute(Qt::WA_TabletTracking);
  setFocusPolicy(Qt::StrongFocus);
  horizontalScrollBar()->setSingleStep(20);
  verticalScrollBar()->setSingleStep(20);
  connect(&document_, &PictureDocument::replaced, this, [this] {
    rebuildDisplay();
    zoomToFit();
  });
  connect(&document_, &PictureDocument::areaChanged, this, &EditorCanvas::refreshDisplay);
  connect(&tools_, &ToolController::selectionChanged, viewport(), qOverload<>(&QWidget::update));
  rebuildDisplay();
}

void EditorCanvas::rebuildDisplay() {
  const PictureBitmap* p = document_.picture();
  display_ = QImage();
  reduction_ = 1;
  if (!p || p->width == 0 || p->height == 0) {
    viewport()->update();
    return;
  }
  if (!document_.isEditable()) {
    while (static_cast<std::uint64_t>((p->width + reduction_ - 1) / reduction_) * ((p->height + reduction_ - 1) / reduction_) >
           kMaxReducedPixels) {
      ++reduction_;
    }
  }
  const int w = static_cast<int>((p->width + reduction_ - 1) / reduction_);
  const int h = static_cast<int>((p->height + reduction_ - 1) / reduction_);
  display_ = QImage(w, h, QImage::Format_RGB32);
  if (display_.isNull()) return;
  if (reduction_ == 1) {
    refreshDisplay(QRect(0, 0, w, h));
    return;
  }
  const bool colour = p->red.size() == p->pixels.size() && p->green.size() == p->pixels.size();
  const bool blue = p->blue.size() == p->pixels.size();
  for (int y = 0; y < h; ++y) {
    auto* line = reinterpret_cast<QRgb*>(display_.scanLine(y));
    for (int x = 0; x < w; ++x) line[x] = colourOf(*p, offsetOf(*p, x * reduction_, y * reduction_), colour, blue);
  }
  viewport()->update();
}

void EditorCanvas::refreshDisplay(const QRect& area) {
  const PictureBitmap* p = document_.picture();
  if (!p || display_.isNull() || reduction_ != 1) return;
  const QRect r = area.intersected(display_.rect());
  if (r.isEmpty()) return;
  const bool colour = p->red.size() == p->pixels.size() && p->green.size() == p->pixels.size();
  const bool blue = p->blue.size() == p->pixels.size();
  for (int y = r.top(); y <= r.bottom(); ++y) {
    auto* line = reinterpret_cast<QRgb*>(display_.scanLine(y)) + r.left();
    const std::size_t at = offsetOf(*p, r.left(), y);
    const int n = r.width();
    if (colour && blue) {
      packRow(p->red.data() + at, p->green.data() + at, p->blue.data() + at, line, n);
    } else {
      for (int x = 0; x < n; ++x) line[x] = colourOf(*p, at + static_cast<std::size_t>(x), colour, blue);
    }
  }
  const QRectF shown(toViewport(r.topLeft()), toViewport(r.bottomRight() + QPoint(1, 1)));
  viewport()->update(shown.toAlignedRect().adjusted(-1, -1, 1, 1));
}

double EditorCanvas::fitZoom() const {
  const std::uint32_t w = document_.width(), h = document_.height();
  if (w == 0 || h == 0) return 1.0;
  const double across = std::max(1, viewport()->width() - 2 * kFitMargin) / static_cast<double>(w);
  const double down = std::max(1, viewport()->height() - 2 * kFitMargin) / static_cast<double>(h);
  return std::clamp(std::min(across, down), 1e-6, kMaxZoom);
}

double EditorCanvas::minZoom() const { return std::min(fitZoom(), kSteps[0]); }

QPointF EditorCanvas::offset() const {
  const double w = document_.width() * zoom_;
  const double h = document_.height() * zoom_;
  const double x = w < viewport()->width() ? (viewport()->width() - w) / 2.0 : -horizontalScrollBar()->value();
  const double y = h < viewport()->height() ? (viewport()->height() - h) / 2.0 : -verticalScrollBar()->value();
  return {std::round(x), std::round(y)};
}

QPointF EditorCanvas::toPicture(QPointF v) const { return (v - offset()) / zoom_; }
QPointF EditorCanvas::toViewport(QPointF p) const { return p * zoom_ + offset(); }

QRectF EditorCanvas::pictureRect() const {
  return QRectF(offset(), QSizeF(document_.width() * zoom_, document_.height() * zoom_));
}

void EditorCanvas::updateScrollBars() {
  const auto w = static_cast<qint64>(std::ceil(document_.width() * zoom_));
  const auto h = static_cast<qint64>(std::ceil(document_.height() * zoom_));
  horizontalScrollBar()->setPageStep(viewport()->width());
  verticalScrollBar()->setPageStep(viewport()->height());
  horizontalScrollBar()->setRange(0, static_cast<int>(std::clamp<qint64>(w - viewport()->width(), 0, INT32_MAX)));
  verticalScrollBar()->setRange(0, static_cast<int>(std::clamp<qint64>(h - viewport()->height(), 0, INT32_MAX)));
}

void EditorCanvas::setZoom(double zoom, std::optional<QPointF> anchor) {
  zoom = std::clamp(zoom, minZoom(), kMaxZoom);
  const QPointF at = anchor.value_or(QPointF(viewport()->width() / 2.0, viewport()->height() / 2.0));
  const QPointF fixed = toPicture(at);
  zoom_ = zoom;
  fitting_ = false;
  updateScrollBars();
  // Scroll so that `fixed` is under `at` again.
  const QPointF wanted = fixed * zoom_ - at;
  {
    const QSignalBlocker h(horizontalScrollBar());
    const QSignalBlocker v(verticalScrollBar());
    horizontalScrollBar()->setValue(static_cast<int>(std::lround(wanted.x())));
    verticalScrollBar()->setValue(static_cast<int>(std::lround(wanted.y())));
  }
  viewport()->update();
  emit viewChanged();
}

void EditorCanvas::zoomIn() {
  for (double step : kSteps) {
    if (step > zoom_ * 1.0001) return setZoom(step);
  }
  setZoom(kMaxZoom);
}

void EditorCanvas::zoomOut() {
  for (auto it = std::rbegin(kSteps); it != std::rend(kSteps); ++it) {
    if (*it < zoom_ / 1.0001) return setZoom(std::max(*it, minZoom()));
  }
  setZoom(minZoom());
}

void EditorCanvas::zoomToFit() {
  setZoom(fitZoom());
  fitting_ = true;
}

void EditorCanvas::zoomToActualPixels() { setZoom(1.0); }

void EditorCanvas::setUnderlay(const QImage& image) {
  underlay_ = image;
  viewport()->update();
}

void EditorCanvas::setUnderlayOpacity(double opacity) {
  underlayOpacity_ = std::clamp(opacity, 0.0, 1.0);
  viewport()->update();
}

void EditorCanvas::setUnderlayShown(bool shown) {
  underlayShown_ = shown;
  viewport()->update();
}

QRectF EditorCanvas::brushOutline() const {
  if (!pointer_ || !isPaintingTool(tools_.settings().tool) || tools_.readOnly()) return {};
  const double d = std::max(1.0, tools_.settings().brush.diameter * zoom_);
  return QRectF(*pointer_ - QPointF(d / 2, d / 2), QSizeF(d, d));
}

void EditorCanvas::paintEvent(QPaintEvent* event) {
  QPainter painter(viewport());
  painter.fillRect(event->rect(), palette().color(QPalette::Dark));
  if (display_.isNull()) return;
  const QRectF picture = pictureRect();
  const QRectF visible = picture.intersected(QRectF(event->rect()));
  if (!visible.isEmpty()) {
    // Whole picture pixels covering what is to be painted, and where they go.
    const QPointF a = toPicture(visible.topLeft());
    const QPointF b = toPicture(visible.bottomRight());
    const double x0 = std::max(0.0, std::floor(a.x())), y0 = std::max(0.0, std::floor(a.y()));
    const double x1 = std::min<double>(document_.width(), std::ceil(b.x()));
    const double y1 = std::min<double>(document_.height(), std::ceil(b.y()));
    const QRectF target(toViewport(QPointF(x0, y0)), toViewport(QPointF(x1, y1)));
    const double r = reduction_;
    // Smoothed only where a picture pixel is smaller than a device pixel:
    // on a dense screen a picture at 64% still covers more than one, and
    // shows sharp.
    const qreal density = painter.paintEngine()->paintDevice()->devicePixelRatioF();
    painter.setRenderHint(QPainter::SmoothPixmapTransform, zoom_ * r * density < 1.0);
    painter.drawImage(target, display_, QRectF(x0 / r, y0 / r, (x1 - x0) / r, (y1 - y0) / r));
    if (underlayShown_ && !underlay_.isNull()) {
      const double sx = underlay_.width() / static_cast<double>(document_.width());
      const double sy = underlay_.height() / static_cast<double>(document_.height());
      painter.save();
      painter.setOpacity(underlayOpacity_);
      painter.setCompositionMode(QPainter::CompositionMode_Plus);
      painter.setRenderHint(QPainter::SmoothPixmapTransform, true);
      painter.drawImage(target, underlay_, QRectF(x0 * sx, y0 * sy, (x1 - x0) * sx, (y1 - y0) * sy));
      painter.restore();
    }
  }
  const PixelRect& s = tools_.selection();
  if (!s.empty()) {
    const QRectF box(toViewport(QPointF(s.x0, s.y0)), toViewport(QPointF(s.x1, s.y1)));
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setPen(QPen(Qt::white, 0));
    painter.drawRect(box.adjusted(0, 0, -1, -1));
    painter.setPen(QPen(Qt::black, 0, Qt::DashLine));
    painter.drawRect(box.adjusted(0, 0, -1, -1));
  }
  if (const QRectF outline = brushOutline(); !outline.isEmpty()) {
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.setPen(QPen(QColor(255, 255, 255, 160), 0));
    painter.drawEllipse(outline);
    painter.setPen(QPen(QColor(0, 0, 0, 160), 0, Qt::DotLine));
    painter.drawEllipse(outline);
  }
}

void EditorCanvas::resizeEvent(QResizeEvent* event) {
  QAbstractScrollArea::resizeEvent(event);
  if (fitting_) {
    zoomToFit();
  } else {
    updateScrollBars();
    emit viewChanged();
  }
}

void EditorCanvas::scrollContentsBy(int, int) {
  viewport()->update();
  emit viewChanged();
}

void EditorCanvas::pointerAt(QPointF v) {
  const QRectF oldOutline = brushOutline();
  pointer_ = v;
  const QPointF p = toPicture(v);
  const bool inside = p.x() >= 0 && p.y() >= 0 && p.x() < document_.width() && p.y() < document_.height();
  emit pointerMoved(p, inside);
  const QRectF newOutline = brushOutline();
  if (!oldOutline.isEmpty() || !newOutline.isEmpty()) {
    viewport()->update(oldOutline.united(newOutline).toAlignedRect().adjusted(-2, -2, 2, 2));
  }
}

void EditorCanvas::updateCursor() {
  if (panning_) {
    viewport()->setCursor(Qt::ClosedHandCursor);
  } else if (spaceHeld_) {
    viewport()->setCursor(Qt::OpenHandCursor);
  } else {
    viewport()->setCursor(tools_.settings().tool == Tool::Select ? Qt::ArrowCursor : Qt::CrossCursor);
  }
}

void EditorCanvas::mousePressEvent(QMouseEvent* event) {
  setFocus(Qt::MouseFocusReason);
  if (event->button() == Qt::MiddleButton || (event->button() == Qt::LeftButton && spaceHeld_)) {
    panning_ = true;
    panFrom_ = event->position().toPoint();
    updateCursor();
    return;
  }
  if (event->button() != Qt::LeftButton || tabletDown_) return;
  toolDown_ = true;
  const QPointF p = toPicture(event->position());
  tools_.press(PointF{static_cast<float>(p.x()), static_cast<float>(p.y())}, 1.0f);
}

void EditorCanvas::mouseMoveEvent(QMouseEvent* event) {
  if (panning_) {
    const QPoint now = event->position().toPoint();
    const QPoint delta = now - panFrom_;
    panFrom_ = now;
    horizontalScrollBar()->setValue(horizontalScrollBar()->value() - delta.x());
    verticalScrollBar()->setValue(verticalScrollBar()->value() - delta.y());
    return;
  }
  pointerAt(event->position());
  if (toolDown_ && !tabletDown_) {
    const QPointF p = toPicture(event->position());
    tools_.move(PointF{static_cast<float>(p.x()), static_cast<float>(p.y())}, 1.0f);
  }
}

void EditorCanvas::mouseReleaseEvent(QMouseEvent* event) {
  if (panning_ && (event->button() == Qt::MiddleButton || event->button() == Qt::LeftButton)) {
    panning_ = false;
    updateCursor();
    return;
  }
  if (event->button() != Qt::LeftButton || !toolDown_ || tabletDown_) return;
  toolDown_ = false;
  const QPointF p = toPicture(event->position());
  tools_.release(PointF{static_cast<float>(p.x()), static_cast<float>(p.y())});
}

void EditorCanvas::tabletEvent(QTabletEvent* event) {
  // The pen's pressure scales each dab's strength.
  const QPointF p = toPicture(event->position());
  const PointF at{static_cast<float>(p.x()), static_cast<float>(p.y())};
  const auto pressure = static_cast<float>(event->pressure());
  switch (event->type()) {
    case QEvent::TabletPress:
      tabletDown_ = true;
      toolDown_ = true;
      tools_.press(at, pressure);
      break;
    case QEvent::TabletMove:
      pointerAt(event->position());
      if (tabletDown_) tools_.move(at, pressure);
      break;
    case QEvent::TabletRelease:
      if (tabletDown_) tools_.release(at);
      tabletDown_ = false;
      toolDown_ = false;
      break;
    default:
      break;
  }
  event->accept();
}

void EditorCanvas::wheelEvent(QWheelEvent* event) {
  if (event->modifiers() & Qt::ControlModifier) {
    const double notches = event->angleDelta().y() / 120.0;
    if (notches != 0.0) setZoom(zoom_ * std::pow(1.25, notches), event->position());
    event->accept();
    return;
  }
  QAbstractScrollArea::wheelEvent(event);
}

void EditorCanvas::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Space && !event->isAutoRepeat()) {
    spaceHeld_ = true;
    updateCursor();
    return;
  }
  if (event->key() == Qt::Key_Escape) {
    if (tools_.cancel()) {
      toolDown_ = false;
      return;
    }
  }
  // The arrow keys move the selected pixels (Shift: ten at a time).
  const int step = event->modifiers() & Qt::ShiftModifier ? 10 : 1;
  if (!tools_.selection().empty() && !tools_.readOnly()) {
    switch (event->key()) {
      case Qt::Key_Left: return tools_.nudge(-step, 0);
      case Qt::Key_Right: return tools_.nudge(step, 0);
      case Qt::Key_Up: return tools_.nudge(0, -step);
      case Qt::Key_Down: return tools_.nudge(0, step);
      default: break;
    }
  }
  QAbstractScrollArea::keyPressEvent(event);
}

void EditorCanvas::keyReleaseEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Space && !event->isAutoRepeat()) {
    spaceHeld_ = false;
    updateCursor();
    return;
  }
  QAbstractScrollArea::keyReleaseEvent(event);
}

bool EditorCanvas::viewportEvent(QEvent* event) {
  if (event->type() == QEvent::Leave) {
    const QRectF outline = brushOutline();
    pointer_.reset();
    if (!outline.isEmpty()) viewport()->update(outline.toAlignedRect().adjusted(-2, -2, 2, 2));
    emit pointerLeft();
  } else if (event->type() == QEvent::Enter) {
    updateCursor();
  }
  return QAbstractScrollArea::viewportEvent(event);
}

}  // namespace vellomar
