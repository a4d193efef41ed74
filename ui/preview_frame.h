// The picture preview: a frame with a one-pixel sunken edge whose interior
// shows the loaded picture stretched over it, aspect ratio not kept.
#pragma once

#include <QImage>
#include <QWidget>
#include <memory>

#include "files/picture.h"

namespace vellomar {

class PreviewFrame : public QWidget {
  Q_OBJECT
 public:
  explicit PreviewFrame(QWidget* parent = nullptr);

  // Shows `bitmap` (which then stays alive as long as it is shown) and lets
  // go of the previous one. The frame keeps its size. A null bitmap empties
  // the frame.
  void setPicture(std::shared_ptr<const PictureBitmap> bitmap);
  const std::shared_ptr<const PictureBitmap>& picture() const { return bitmap_; }

  // The part inside the edge, in the frame's own coordinates.
  QRect interior() const { return rect().adjusted(1, 1, -1, -1); }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  std::shared_ptr<const PictureBitmap> bitmap_;
  QImage image_;  // the bitmap top row first, ready to paint
};

}  // namespace vellomar
