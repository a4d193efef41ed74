// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/editor/tool_controller.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>
#include <cmath>

#include "ui/common/app_state.h"
#include "ui/document/column_scale.h"
#include "ui/document/picture_document.h"

namespace vellomar {

namespace {

PixelRect rectBetween(PointF a, PointF b) {
  const auto x0 = static_cast<std::int64_t>(std::floor(std::min(a.x, b.x)));
  const auto y0 = static_cast<std::int64_t>(std::floor(std::min(a.y, b.y)));
  const auto x1 = static_cast<std::int64_t>(std::floor(std::max(a.x, b.x)));
  const auto y1 = static_cast<std::int64_t>(std::floor(std::max(a.y, b.y)));
  return {x0, y0, x1 + 1, y1 + 1};
}

QString toolName(Tool tool) {
  switch (tool) {
    case Tool::Brush: return QStringLiteral("Brush stroke");
    case Tool::Eraser: return QStringLiteral("Eraser stroke");
    case Tool::Line: return QStringLiteral("Line");
    case Tool::Rectangle: return QStringLiteral("Rectangle");
    case Tool::Ellipse: return QStringLiteral("Ellipse");
    case Tool::Gradient: return QStringLiteral("Gradient");
    case Tool::Fill: return QStringLiteral("Fill");
    case Tool::Soften: return QStringLiteral("Soften");
    case Tool::Harmonics: return QStringLiteral("Harmonics stroke");
    case Tool::Select: return QStringLiteral("Move selection");
  }
  return QString();
}

}  // namespace

ToolController::ToolController(PictureDocument& document, QObject* parent)
    : QObject(parent), document_(document), ongoing_(document) {
  connect(&document_, &PictureDocument::replaced, this, &ToolController::pictureReplaced);
}

Rgb ToolController::colour() const { return paintColour(settings_.level, settings_.pan, renderSettings.stereo); }

PixelRect ToolController::clippedToPicture(const PixelRect& rect) const {
  const PictureBitmap* p = document_.picture();
  return p ? rect.intersected(boundsOf(*p)) : PixelRect{};
}

void ToolController::setSelection(const PixelRect& rect) {
  const PixelRect clipped = clippedToPicture(rect);
  if (clipped == selection_) return;
  selection_ = clipped;
  ++nudgeRun_;
  emit selectionChanged();
}

void ToolController::selectAll() {
  if (const PictureBitmap* p = document_.picture()) setSelection(boundsOf(*p));
}

PixelRect ToolController::selectionOrAll() const {
  if (!selection_.empty()) return selection_;
  const PictureBitmap* p = document_.picture();
  return p ? boundsOf(*p) : PixelRect{};
}

PictureEdit ToolController::strokeEdit(PointF from, PointF to, float pressureFrom, float pressureTo, bool withStart) {
  return [this, from, to, pressureFrom, pressureTo, withStart](PictureBitmap& picture, TileStore& store) {
    return stroke_->segment(picture, store, from, to, pressureFrom, pressureTo, withStart);
  };
}

PictureEdit ToolController::shapeEdit(PointF to) {
  const PointF a = anchor_;
  const ToolSettings s = settings_;
  const Rgb c = colour();
  const PixelRect area = selectionOrAll();
  return [a, to, s, c, area](PictureBitmap& picture, TileStore& store) {
    switch (s.tool) {
      case Tool::Line: return drawShape(picture, store, ShapeKind::Line, a, to, false, s.brush, s.opacity, c);
      case Tool::Rectangle: return drawShape(picture, store, ShapeKind::Rectangle, a, to, s.filled, s.brush, s.opacity, c);
      case Tool::Ellipse: return drawShape(picture, store, ShapeKind::Ellipse, a, to, s.filled, s.brush, s.opacity, c);
      case Tool::Gradient: return drawGradient(picture, store, area, a, to, c, Rgb{}, s.opacity);
      default: return PixelRect{};
    }
  };
}

void ToolController::press(PointF at, float pressure) {
  if (dragging()) return;
  const PictureBitmap* picture = document_.picture();
  if (!picture) return;
  dragTool_ = settings_.tool;
  anchor_ = at;
  last_ = at;
  lastPressure_ = pressure;
  if (dragTool_ == Tool::Select) {
    const auto x = static_cast<std::int64_t>(std::floor(at.x));
    const auto y = static_cast<std::int64_t>(std::floor(at.y));
    if (!readOnly_ && selection_.contains(x, y)) {
      movingSelection_ = true;
      moveFrom_ = selection_;
      ongoing_.begin(toolName(Tool::Select));
    } else {
      selecting_ = true;
      setSelection(rectBetween(at, at));
    }
    return;
  }
  if (readOnly_) return;
  if (dragTool_ == Tool::Fill) {
    const auto x = static_cast<std::int64_t>(std::floor(at.x));
    const auto y = static_cast<std::int64_t>(std::floor(at.y));
    const PixelRect area = selectionOrAll();
    const Rgb c = colour();
    const float opacity = settings_.opacity;
    const int tolerance = settings_.tolerance;
    if (!area.contains(x, y)) return;
    document_.undoStack().push(new EditCommand(document_, toolName(Tool::Fill), [=](PictureBitmap& p, TileStore& store) {
      return floodFill(p, store, area, x, y, c, opacity, tolerance);
    }));
    return;
  }
  DragCommand& command = ongoing_.begin(toolName(dragTool_));
  switch (dragTool_) {
    case Tool::Brush:
    case Tool::Eraser:
    case Tool::Soften:
    case Tool::Harmonics: {
      const Rgb c = dragTool_ == Tool::Eraser ? Rgb{} : colour();
      const Stroke::Kind kind = dragTool_ == Tool::Soften ? Stroke::Kind::Soften : Stroke::Kind::Paint;
      Stroke::Companions companions;
      if (dragTool_ == Tool::Harmonics) {
        const ColumnScale scale(renderSettings, picture->width);
        const int count = settings_.harmonics;
        const float decay = settings_.decay;
        companions = [scale, count, decay](float x) { return scale.harmonics(x, count, decay); };
      }
      stroke_.emplace(kind, settings_.brush, settings_.opacity, c, std::move(companions));
      command.add(strokeEdit(at, at, pressure, pressure, true));
      break;
    }
    default:
      command.replace(shapeEdit(at));
      break;
  }
}

void ToolController::move(PointF at, float pressure) {
  if (selecting_) {
    setSelection(rectBetween(anchor_, at));
  } else if (movingSelection_ && ongoing_.active()) {
    const auto dx = static_cast<std::int64_t>(std::lround(at.x - anchor_.x));
    const auto dy = static_cast<std::int64_t>(std::lround(at.y - anchor_.y));
    const PixelRect from = moveFrom_;
    ongoing_.command()->replace([from, dx, dy](PictureBitmap& p, TileStore& store) {
      return moveRegion(p, store, from, dx, dy);
    });
    const PixelRect moved{from.x0 + dx, from.y0 + dy, from.x1 + dx, from.y1 + dy};
    const PixelRect kept = clippedToPicture(moved);
    if (!(kept == selection_)) {
      selection_ = kept;
      emit selectionChanged();
    }
  } else if (ongoing_.active() && stroke_) {
    ongoing_.command()->add(strokeEdit(last_, at, lastPressure_, pressure, false));
  } else if (ongoing_.active()) {
    ongoing_.command()->replace(shapeEdit(at));
  }
  last_ = at;
  lastPressure_ = pressure;
}

void ToolController::release(PointF at) {
  if (dragging()) move(at, lastPressure_);
  if (selecting_) {
    selecting_ = false;
    // A click without a drag selects nothing.
    if (std::floor(at.x) == std::floor(anchor_.x) && std::floor(at.y) == std::floor(anchor_.y)) setSelection({});
    return;
  }
  const bool moved = movingSelection_ && ongoing_.active();
  const auto dx = static_cast<std::int64_t>(std::lround(at.x - anchor_.x));
  const auto dy = static_cast<std::int64_t>(std::lround(at.y - anchor_.y));
  ongoing_.commit();
  stroke_.reset();
  if (movingSelection_) {
    movingSelection_ = false;
    ++nudgeRun_;
  }
  if (moved && (dx != 0 || dy != 0)) emit selectionMoved(moveFrom_, dx, dy);
}

bool ToolController::cancel() {
  if (ongoing_.active()) {
    ongoing_.cancel();
    stroke_.reset();
    if (movingSelection_) {
      movingSelection_ = false;
      selection_ = moveFrom_;
      emit selectionChanged();
    }
    return true;
  }
  if (selecting_) {
    selecting_ = false;
    setSelection({});
    return true;
  }
  if (!selection_.empty()) {
    setSelection({});
    return true;
  }
  return false;
}

void ToolController::finishDrag() {
  if (dragging() && !adjusting_) release(last_);
}

void ToolController::pictureReplaced() {
  ongoing_.abandon();
  stroke_.reset();
  selecting_ = false;
  movingSelection_ = false;
  adjusting_ = false;
  setSelection({});
}

void ToolController::copy() {
  const PictureBitmap* p = document_.picture();
  if (!p || selection_.empty() || !hasColourPlanes(*p)) return;
  QGuiApplication::clipboard()->setImage(copyRegion(*p, selection_));
  emit status(QStringLiteral("Copied %1 x %2 pixels").arg(selection_.width()).arg(selection_.height()));
}

void ToolController::cut() {
  if (selection_.empty() || readOnly_) return;
  copy();
  const PixelRect rect = selection_;
  document_.undoStack().push(new EditCommand(document_, QStringLiteral("Cut"), [rect](PictureBitmap& p, TileStore& store) {
    return fillRegion(p, store, rect, Rgb{});
  }));
}

void ToolController::erase() {
  if (selection_.empty() || readOnly_) return;
  const PixelRect rect = selection_;
  document_.undoStack().push(new EditCommand(document_, QStringLiteral("Delete"), [rect](PictureBitmap& p, TileStore& store) {
    return fillRegion(p, store, rect, Rgb{});
  }));
}

bool ToolController::paste(std::int64_t atX, std::int64_t atY) {
  if (readOnly_ || !document_.hasPicture()) return false;
  const QMimeData* data = QGuiApplication::clipboard()->mimeData();
  const QImage image = data != nullptr && data->hasImage() ? qvariant_cast<QImage>(data->imageData()) : QImage();
  if (image.isNull()) {
    emit status(QStringLiteral("The clipboard holds no picture: nothing was pasted"));
    return false;
  }
  const std::int64_t x = selection_.empty() ? atX : selection_.x0;
  const std::int64_t y = selection_.empty() ? atY : selection_.y0;
  document_.undoStack().push(new EditCommand(document_, QStringLiteral("Paste"), [image, x, y](PictureBitmap& p, TileStore& store) {
    return pasteImage(p, store, image, x, y);
  }));
  setSelection({x, y, x + image.width(), y + image.height()});
  emit status(QStringLiteral("Pasted %1 x %2 pixels").arg(image.width()).arg(image.height()));
  return true;
}

void ToolController::flip(FlipAxis axis) {
  if (readOnly_) return;
  const PixelRect rect = selectionOrAll();
  const QString name = axis == FlipAxis::Time ? QStringLiteral("Flip in time") : QStringLiteral("Flip in frequency");
  document_.undoStack().push(new EditCommand(document_, name, [rect, axis](PictureBitmap& p, TileStore& store) {
    return flipRegion(p, store, rect, axis);
  }));
}

void ToolController::scaleSelection(std::int64_t width, std::int64_t height) {
  if (readOnly_ || selection_.empty() || width < 1 || height < 1) return;
  const PixelRect rect = selection_;
  document_.undoStack().push(new EditCommand(document_, QStringLiteral("Scale selection"), [=](PictureBitmap& p, TileStore& store) {
    return scaleRegion(p, store, rect, width, height);
  }));
  setSelection({rect.x0, rect.y0, rect.x0 + width, rect.y0 + height});
}

void ToolController::nudge(std::int64_t dx, std::int64_t dy) {
  if (readOnly_ || selection_.empty() || dragging()) return;
  const PixelRect rect = selection_;
  const int run = nudgeRun_;
  document_.undoStack().push(new EditCommand(document_, QStringLiteral("Move selection"), [=](PictureBitmap& p, TileStore& store) {
    return moveRegion(p, store, rect, dx, dy);
  }, kNudgeMergeId + (run & 0xFFFF)));
  const PixelRect moved = clippedToPicture({rect.x0 + dx, rect.y0 + dy, rect.x1 + dx, rect.y1 + dy});
  if (!(moved == selection_)) {
    selection_ = moved;
    emit selectionChanged();
  }
}

void ToolController::previewAdjustment(int brightness, double contrast) {
  if (readOnly_) return;
  if (!adjusting_) {
    ongoing_.begin(QStringLiteral("Brightness and contrast"));
    adjusting_ = true;
  }
  const PixelRect rect = selectionOrAll();
  ongoing_.command()->replace([=](PictureBitmap& p, TileStore& store) {
    return adjustRegion(p, store, rect, brightness, contrast);
  });
}

void ToolController::acceptAdjustment() {
  if (!adjusting_) return;
  adjusting_ = false;
  ongoing_.commit();
}

void ToolController::rejectAdjustment() {
  if (!adjusting_) return;
  adjusting_ = false;
  ongoing_.cancel();
}

}  // namespace vellomar
