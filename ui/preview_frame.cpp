#include "ui/preview_frame.h"

#include <QPainter>

#include "files/picture_preview.h"

namespace vellomar {

PreviewFrame::PreviewFrame(QWidget* parent) : QWidget(parent) {
  setFocusPolicy(Qt::NoFocus);
}

void PreviewFrame::setPicture(std::shared_ptr<const PictureBitmap> bitmap) {
  QImage image = bitmap ? picturePreview(*bitmap) : QImage();
  const QSize size = this->size();
  std::shared_ptr<const PictureBitmap> previous = std::move(bitmap_);
  bitmap_ = std::move(bitmap);
  image_ = std::move(image);
  resize(size);
  update();
  // `previous` is let go here, after the new picture is in place.
}

void PreviewFrame::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  const QRect r = rect();
  if (r.width() < 2 || r.height() < 2) return;
  if (!image_.isNull()) painter.drawImage(interior(), image_);
  // The sunken edge: shadow on the top and left, light on the bottom and right.
  painter.fillRect(QRect(r.left(), r.top(), r.width(), 1), palette().color(QPalette::Dark));
  painter.fillRect(QRect(r.left(), r.top(), 1, r.height()), palette().color(QPalette::Dark));
  painter.fillRect(QRect(r.left(), r.bottom(), r.width(), 1), palette().color(QPalette::Light));
  painter.fillRect(QRect(r.right(), r.top() + 1, 1, r.height() - 1), palette().color(QPalette::Light));
}

}  // namespace vellomar
