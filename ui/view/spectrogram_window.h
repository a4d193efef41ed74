// SPDX-License-Identifier: GPL-3.0-or-later
// The spectrogram window: the picture a render read beside the analysis of
// the sound it made, both framed by the preview's own time and frequency
// axes, with the playhead while the sound plays. A toggle shows where
// they differ instead of the sound's picture.
#pragma once

#include <QImage>
#include <QWidget>
#include <cstdint>

#include "engine/settings.h"

class QCheckBox;
class QLabel;

namespace vellomar {

// One framed picture with a time axis on its left and a frequency axis
// below, laid out as the main window lays out its preview.
class SpectrogramPanel : public QWidget {
  Q_OBJECT

 public:
  explicit SpectrogramPanel(QWidget* parent = nullptr);

  // The axes of a render of `settings` (its scale and band) that lasted
  // `durationSeconds`.
  void setAxes(float durationSeconds, const RenderSettings& settings);
  // Shown stretched over the frame's interior, pixel for pixel blocks.
  void setImage(const QImage& image);
  const QImage& image() const { return image_; }
  // As PreviewFrame::setPlayhead.
  void setPlayhead(qreal fraction);
  qreal playhead() const { return playhead_; }
  int playheadY() const;

  // The frame's outer rectangle and its interior, in the panel's
  // coordinates; the axis images as drawn.
  QRect frameRect() const { return frame_; }
  QRect interior() const { return frame_.adjusted(1, 1, -1, -1); }
  const QImage& timeAxis() const { return timeAxis_; }
  const QImage& frequencyAxis() const { return frequencyAxis_; }

  // Lays out and draws the axes again (after a change of size or of the
  // screen's pixel density).
  void layOut();

  QSize minimumSizeHint() const override { return QSize(220, 180); }

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  float duration_ = 0.0f;
  RenderSettings settings_;
  QImage image_;
  QImage timeAxis_;
  QImage frequencyAxis_;
  QRect frame_;
  QPoint timeAxisAt_;
  QPoint frequencyAxisAt_;
  qreal playhead_ = -1.0;
};

// Where `sound` differs from `picture` (two images of one size), in
// colour: black where they agree, red where the sound is brighter, blue
// where it is darker, at twice the difference. Grey images are compared by
// their grey; images of the two channels' colours (red the left, green the
// right) by the channel that differs more.
QImage differenceImage(const QImage& picture, const QImage& sound);

class SpectrogramWindow : public QWidget {
  Q_OBJECT

 public:
  // A window of its own that belongs to `owner` (it closes with it).
  explicit SpectrogramWindow(QWidget* owner);

  // The picture a render read and the analysis of its sound (of one size;
  // grey, or in the colours of a stereo sound's two channels), on the
  // render's time and frequency axes.
  void setContent(const QImage& picture, const QImage& sound, float durationSeconds, const RenderSettings& settings);
  void setPlayhead(qreal fraction);

  QCheckBox* differenceToggle() const { return differenceToggle_; }
  SpectrogramPanel* picturePanel() const { return picturePanel_; }
  SpectrogramPanel* soundPanel() const { return soundPanel_; }
  QLabel* soundTitle() const { return soundTitle_; }
  const QImage& soundImage() const { return sound_; }

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void showSoundOrDifference();

  QCheckBox* differenceToggle_ = nullptr;
  SpectrogramPanel* picturePanel_ = nullptr;
  SpectrogramPanel* soundPanel_ = nullptr;
  QLabel* soundTitle_ = nullptr;
  QImage picture_;
  QImage sound_;
  bool followsScreen_ = false;
  bool placed_ = false;
};

inline const QString kSpectrogramTitle = QStringLiteral("Spectrogram of generated sound");

}  // namespace vellomar
