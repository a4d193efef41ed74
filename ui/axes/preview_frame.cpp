// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/axes/preview_frame.h"

#include <QPainter>
#include <algorithm>

namespace vellomar {

PreviewFrame::PreviewFrame(QWidget* parent) : QWidget(parent) {
  setFocusPolicy(Qt::NoFocus);
}

void PreviewFrame::setPicture(std::shared_ptr<const PictureBitmap> bitmap) {
  QImage image = bitmap ? picturePreview(*bitmap, colours_) : QImage();
  const QSize size = this->size();
  std::shared_ptr<const PictureBitmap> previous = std::move(bitmap_);
  bitmap_ = std::move(bitmap);
  image_ = std::move(image);
  resize(size);
  update();
  // `previous` is let go here, after the new picture is in place.
}

void PreviewFrame::setPicture(std::shared_ptr<const PictureBitmap> bitmap, const RowSpans& rows) {
  const bool sameSize = bitmap && !image_.isNull() && image_.width() == static_cast<int>(bitmap->width) &&
                        image_.height() == static_cast<int>(bitmap->height);
  if (!sameSize || rows.rowCount() == bitmap->height) {
    setPicture(std::move(bitmap));
    return;
  }
  for (const RowSpan& span : rows.spans()) drawPreviewRows(*bitmap, colours_, span.begin, span.end, image_);
  bitmap_ = std::move(bitmap);
  update();
}

void PreviewFrame::setColours(PreviewColours colours) {
  if (colours == colours_) return;
  colours_ = colours;
  if (bitmap_) {
    image_ = picturePreview(*bitmap_, colours_);
    update();
  }
}

int playheadRow(qreal fraction, int top, int height) {
  if (!(fraction >= 0.0) || fraction > 1.0 || height <= 0) return -1;
  // The axis ends just below the last row: the end itself shows on it.
  return top + std::min(height - 1, static_cast<int>(fraction * height));
}

void PreviewFrame::setPlayhead(qreal fraction) {
  if (!(fraction >= 0.0) || fraction > 1.0) fraction = -1.0;
  if (fraction == playhead_) return;
  playhead_ = fraction;
  update();
}

int PreviewFrame::playheadY() const {
  const QRect inside = interior();
  return playheadRow(playhead_, inside.top(), inside.height());
}

void PreviewFrame::setLoopBand(qreal from, qreal to) {
  if (!(to > from)) from = to = 0.0;
  if (from == loopFrom_ && to == loopTo_) return;
  loopFrom_ = from;
  loopTo_ = to;
  update();
}

qreal PreviewFrame::timeAt(int y) const {
  const QRect inside = interior();
  if (inside.height() <= 0) return 0.0;
  return std::clamp(static_cast<qreal>(y - inside.top()) / inside.height(), 0.0, 1.0);
}

void PreviewFrame::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  const QRect r = rect();
  if (r.width() < 2 || r.height() < 2) return;
  if (!image_.isNull()) painter.drawImage(interior(), image_);
  if (loopTo_ > loopFrom_) {
    const QRect inside = interior();
    const int top = inside.top() + static_cast<int>(loopFrom_ * inside.height());
    const int bottom = inside.top() + std::min(inside.height(), static_cast<int>(loopTo_ * inside.height()));
    QColor band = QColor::fromRgb(kPlayheadColour);
    band.setAlpha(48);
    painter.fillRect(QRect(inside.left(), top, inside.width(), std::max(1, bottom - top)), band);
    band.setAlpha(160);
    painter.fillRect(QRect(inside.left(), top, inside.width(), 1), band);
    painter.fillRect(QRect(inside.left(), std::max(top, bottom - 1), inside.width(), 1), band);
  }
  if (const int y = playheadY(); y >= 0) {
    painter.fillRect(QRect(interior().left(), y, interior().width(), 1), QColor::fromRgb(kPlayheadColour));
  }
  // The sunken edge: shadow on the top and left, light on the bottom and right.
  painter.fillRect(QRect(r.left(), r.top(), r.width(), 1), palette().color(QPalette::Dark));
  painter.fillRect(QRect(r.left(), r.top(), 1, r.height()), palette().color(QPalette::Dark));
  painter.fillRect(QRect(r.left(), r.bottom(), r.width(), 1), palette().color(QPalette::Light));
  painter.fillRect(QRect(r.right(), r.top() + 1, 1, r.height() - 1), palette().color(QPalette::Light));
}

}  // namespace vellomar
