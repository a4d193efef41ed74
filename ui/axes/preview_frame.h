// SPDX-License-Identifier: GPL-3.0-or-later
// The picture preview: a frame with a one-pixel sunken edge whose interior
// shows the loaded picture stretched over it, aspect ratio not kept: in
// grey, or with stereo on in the red and green the two channels hear.
#pragma once

#include <QImage>
#include <QWidget>
#include <memory>

#include "files/picture.h"
#include "files/picture_preview.h"
#include "ui/document/row_spans.h"

namespace vellomar {

class PreviewFrame : public QWidget {
  Q_OBJECT
 public:
  explicit PreviewFrame(QWidget* parent = nullptr);

  // Shows `bitmap` (which then stays alive as long as it is shown) and lets
  // go of the previous one. The frame keeps its size. A null bitmap empties
  // the frame.
  void setPicture(std::shared_ptr<const PictureBitmap> bitmap);
  // The same for a revision of the picture shown, of which only `rows` have
  // changed: only they are drawn again (all of it when the size changed).
  void setPicture(std::shared_ptr<const PictureBitmap> bitmap, const RowSpans& rows);
  const std::shared_ptr<const PictureBitmap>& picture() const { return bitmap_; }

  // Grey (the default) or the channels' colours, for a stereo render; the
  // picture shown is drawn again in them.
  void setColours(PreviewColours colours);
  PreviewColours colours() const { return colours_; }
  // The picture as drawn, top row first.
  const QImage& image() const { return image_; }

  // The part inside the edge, in the frame's own coordinates.
  QRect interior() const { return rect().adjusted(1, 1, -1, -1); }

  // A horizontal line across the picture at `fraction` of the time axis
  // (0 its start at the interior's top, 1 its end just below the bottom);
  // a negative fraction, or one past the end, shows none.
  void setPlayhead(qreal fraction);
  qreal playhead() const { return playhead_; }
  // The line's y in the frame's coordinates, or -1 when none is shown.
  int playheadY() const;
  // A band across the picture from `from` to `to` (fractions of the time
  // axis, as the playhead's): the range playing loops over. to <= from
  // shows none.
  void setLoopBand(qreal from, qreal to);
  qreal loopFrom() const { return loopFrom_; }
  qreal loopTo() const { return loopTo_; }
  // The fraction of the time axis at the frame's y (clamped to 0 ... 1).
  qreal timeAt(int y) const;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  std::shared_ptr<const PictureBitmap> bitmap_;
  QImage image_;  // the bitmap top row first, ready to paint
  PreviewColours colours_ = PreviewColours::Grey;
  qreal playhead_ = -1.0;
  qreal loopFrom_ = 0.0;
  qreal loopTo_ = 0.0;
};

// The playhead's y for `fraction` of the time axis over an interior from
// `top` that is `height` pixels high, or -1 outside the axis.
int playheadRow(qreal fraction, int top, int height);

// The colour of every playhead.
inline constexpr QRgb kPlayheadColour = 0xFFE02020;

}  // namespace vellomar
