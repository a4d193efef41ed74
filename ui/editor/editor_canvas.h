// SPDX-License-Identifier: GPL-3.0-or-later
// The editor's view of the picture: zoomed (fit, 1:1, in and out up to
// 3200%, Ctrl+wheel around the pointer), panned (scroll bars, the wheel,
// dragging with the middle button or with Space held), drawn at the
// screen's device pixel ratio, with the selection, the brush's outline and,
// when chosen, the spectrogram of a sound faintly over it. The pointer goes
// to the tools in picture coordinates.
#pragma once

#include <QAbstractScrollArea>
#include <QImage>
#include <QPointF>
#include <optional>

#include "ui/document/picture_planes.h"

namespace vellomar {

class PictureDocument;
class ToolController;

class EditorCanvas : public QAbstractScrollArea {
  Q_OBJECT

 public:
  static constexpr double kMaxZoom = 32.0;  // 3200%

  EditorCanvas(PictureDocument& document, ToolController& tools, QWidget* parent = nullptr);

  // Picture pixels per layout pixel (1 = 100%).
  double zoom() const { return zoom_; }
  double minZoom() const;
  double fitZoom() const;
  // Zooms keeping the picture point under `anchor` (in the viewport) where
  // it is; without one, around the viewport's centre.
  void setZoom(double zoom, std::optional<QPointF> anchor = std::nullopt);
  void zoomIn();
  void zoomOut();
  void zoomToFit();
  void zoomToActualPixels();
  bool fitting() const { return fitting_; }

  // Viewport and picture coordinates (picture pixel (x, y) covers x ... x + 1).
  QPointF toPicture(QPointF viewportPoint) const;
  QPointF toViewport(QPointF picturePoint) const;
  // The picture's rect in the viewport.
  QRectF pictureRect() const;

  // The spectrogram shown over the picture (stretched over it), its
  // opacity 0 ... 1, and whether it is shown.
  void setUnderlay(const QImage& image);
  void setUnderlayOpacity(double opacity);
  void setUnderlayShown(bool shown);
  bool underlayShown() const { return underlayShown_; }
  const QImage& underlay() const { return underlay_; }

  // The colour view of the picture, as shown (tests look at it).
  const QImage& display() const { return display_; }
  // The factor by which the view is reduced: 1 unless the picture is too
  // big to edit, when it is shown from a reduced copy.
  int reduction() const { return reduction_; }

 signals:
  // The zoom or the scroll position changed: the rulers follow.
  void viewChanged();
  // The pointer is over picture point `at` (`inside` false: off the picture).
  void pointerMoved(QPointF at, bool inside);
  void pointerLeft();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void scrollContentsBy(int dx, int dy) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;
  void tabletEvent(QTabletEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void keyReleaseEvent(QKeyEvent* event) override;
  bool viewportEvent(QEvent* event) override;

 private:
  void rebuildDisplay();
  void refreshDisplay(const QRect& area);
  void updateScrollBars();
  QPointF offset() const;
  void pointerAt(QPointF viewportPoint);
  void updateCursor();
  QRectF brushOutline() const;

  PictureDocument& document_;
  ToolController& tools_;
  QImage display_;
  int reduction_ = 1;
  QImage underlay_;
  double underlayOpacity_ = 0.35;
  bool underlayShown_ = false;
  double zoom_ = 1.0;
  bool fitting_ = true;
  // Panning by dragging.
  bool spaceHeld_ = false;
  bool panning_ = false;
  QPoint panFrom_;
  bool toolDown_ = false;
  bool tabletDown_ = false;
  std::optional<QPointF> pointer_;  // last pointer position in the viewport
};

}  // namespace vellomar
