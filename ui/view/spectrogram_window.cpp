// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/view/spectrogram_window.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QLabel>
#include <QPainter>
#include <QScreen>
#include <QVBoxLayout>
#include <QWindow>
#include <algorithm>
#include <cstdlib>

#include "ui/axes/axes.h"
#include "ui/common/dialog_units.h"
#include "ui/axes/preview_frame.h"

namespace vellomar {

namespace {

// The frame's top edge, leaving the time strip its 4 pixels above it; the
// strip's right edge lies 2 pixels left of the frame, the frequency strip
// reaches 9 pixels right of it and 48 below.
constexpr int kFrameTop = 6;
constexpr int kRightRoom = 10;
constexpr int kBottomRoom = 50;

}  // namespace

SpectrogramPanel::SpectrogramPanel(QWidget* parent) : QWidget(parent) {
  setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
}

void SpectrogramPanel::setAxes(float durationSeconds, const RenderSettings& settings) {
  duration_ = durationSeconds;
  settings_ = settings;
  layOut();
}

void SpectrogramPanel::setImage(const QImage& image) {
  image_ = image;
  update();
}

void SpectrogramPanel::setPlayhead(qreal fraction) {
  if (!(fraction >= 0.0) || fraction > 1.0) fraction = -1.0;
  if (fraction == playhead_) return;
  playhead_ = fraction;
  update();
}

int SpectrogramPanel::playheadY() const {
  const QRect inside = interior();
  return playheadRow(playhead_, inside.top(), inside.height());
}

void SpectrogramPanel::layOut() {
  const QPalette& p = palette();
  const QColor background = p.color(QPalette::Window);
  const QColor text = p.color(QPalette::WindowText);
  const qreal ratio = devicePixelRatioF();
  const int frameHeight = std::max(12, height() - kFrameTop - kBottomRoom);
  const int interiorHeight = frameHeight - 2;
  // The time strip first: its labels set how far the frame stands in.
  timeAxis_ = drawTimeAxis(duration_, interiorHeight, background, text, ratio);
  const int growth = qRound(timeAxis_.deviceIndependentSize().width()) - kTimeStripWidth;
  const int left = 60 + growth + 2;
  const int frameWidth = std::max(12, width() - left - kRightRoom);
  frame_ = QRect(left, kFrameTop, frameWidth, frameHeight);
  const AxesLayout layout = axesLayout(frame_, growth);
  timeAxisAt_ = layout.timeStrip.topLeft();
  frequencyAxisAt_ = layout.frequencyStrip.topLeft();
  // The preview's axis, note names included.
  frequencyAxis_ = drawFrequencyAxis(settings_, layout.interiorWidth, background, text, ratio,
                                     noteChoice.namesOnAxis ? noteChoice.a4Hz : 0.0);
  update();
}

void SpectrogramPanel::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  layOut();
}

void SpectrogramPanel::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.drawImage(timeAxisAt_, timeAxis_);
  painter.drawImage(frequencyAxisAt_, frequencyAxis_);
  const QRect r = frame_;
  const QRect inside = interior();
  if (!image_.isNull()) {
    painter.drawImage(inside, image_);
  } else {
    painter.fillRect(inside, palette().color(QPalette::Base));
  }
  if (const int y = playheadY(); y >= 0) {
    painter.fillRect(QRect(inside.left(), y, inside.width(), 1), QColor::fromRgb(kPlayheadColour));
  }
  // The preview's sunken edge.
  painter.fillRect(QRect(r.left(), r.top(), r.width(), 1), palette().color(QPalette::Dark));
  painter.fillRect(QRect(r.left(), r.top(), 1, r.height()), palette().color(QPalette::Dark));
  painter.fillRect(QRect(r.left(), r.bottom(), r.width(), 1), palette().color(QPalette::Light));
  painter.fillRect(QRect(r.right(), r.top() + 1, 1, r.height() - 1), palette().color(QPalette::Light));
}

namespace {

// The colour of a difference d of -255 ... 255: red where the sound is
// brighter, blue where it is darker.
QRgb differenceColour(int d) { return d >= 0 ? qRgb(d, d / 4, 0) : qRgb(0, -d / 3, -d); }

}  // namespace

QImage differenceImage(const QImage& picture, const QImage& sound) {
  if (picture.isNull() || picture.size() != sound.size()) return QImage();
  QImage out(picture.size(), QImage::Format_RGB32);
  if (out.isNull()) return out;
  const bool grey = picture.format() == QImage::Format_Grayscale8 && sound.format() == QImage::Format_Grayscale8;
  if (grey) {
    for (int y = 0; y < picture.height(); ++y) {
      const uchar* pa = picture.constScanLine(y);
      const uchar* pb = sound.constScanLine(y);
      auto* line = reinterpret_cast<QRgb*>(out.scanLine(y));
      for (int x = 0; x < picture.width(); ++x) {
        line[x] = differenceColour(std::clamp(2 * (static_cast<int>(pb[x]) - static_cast<int>(pa[x])), -255, 255));
      }
    }
    return out;
  }
  // Two channels, red and green: where either differs, by the larger
  // difference of the two.
  const QImage a = picture.convertToFormat(QImage::Format_RGB32);
  const QImage b = sound.convertToFormat(QImage::Format_RGB32);
  if (a.isNull() || b.isNull()) return QImage();
  for (int y = 0; y < a.height(); ++y) {
    const auto* pa = reinterpret_cast<const QRgb*>(a.constScanLine(y));
    const auto* pb = reinterpret_cast<const QRgb*>(b.constScanLine(y));
    auto* line = reinterpret_cast<QRgb*>(out.scanLine(y));
    for (int x = 0; x < a.width(); ++x) {
      const int left = qRed(pb[x]) - qRed(pa[x]);
      const int right = qGreen(pb[x]) - qGreen(pa[x]);
      const int d = std::abs(left) >= std::abs(right) ? left : right;
      line[x] = differenceColour(std::clamp(2 * d, -255, 255));
    }
  }
  return out;
}

SpectrogramWindow::SpectrogramWindow(QWidget* owner) : QWidget(owner, Qt::Window) {
  setObjectName(QStringLiteral("spectrogramWindow"));
  setWindowTitle(kSpectrogramTitle);
  setFont(dialogFont());
  setAttribute(Qt::WA_DeleteOnClose, false);

  differenceToggle_ = new QCheckBox(QStringLiteral("Show difference"), this);
  differenceToggle_->setObjectName(QStringLiteral("differenceToggle"));
  differenceToggle_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_D));
  differenceToggle_->setToolTip(QStringLiteral("Show where the sound differs from the picture (Ctrl+D)"));
  auto* legend = new QLabel(
      QStringLiteral("Difference: red where the sound is brighter than the picture, blue where it is darker"), this);
  legend->setObjectName(QStringLiteral("differenceLegend"));
  legend->setVisible(false);

  auto* pictureTitle = new QLabel(QStringLiteral("Picture"), this);
  soundTitle_ = new QLabel(QStringLiteral("Generated sound"), this);
  soundTitle_->setObjectName(QStringLiteral("soundTitle"));
  picturePanel_ = new SpectrogramPanel(this);
  picturePanel_->setObjectName(QStringLiteral("picturePanel"));
  soundPanel_ = new SpectrogramPanel(this);
  soundPanel_->setObjectName(QStringLiteral("soundPanel"));

  auto* grid = new QGridLayout;
  grid->setContentsMargins(0, 0, 0, 0);
  grid->addWidget(pictureTitle, 0, 0, Qt::AlignHCenter);
  grid->addWidget(soundTitle_, 0, 1, Qt::AlignHCenter);
  grid->addWidget(picturePanel_, 1, 0);
  grid->addWidget(soundPanel_, 1, 1);
  grid->setRowStretch(1, 1);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(differenceToggle_);
  layout->addWidget(legend);
  layout->addLayout(grid, 1);

  connect(differenceToggle_, &QCheckBox::toggled, this, [this, legend](bool on) {
    legend->setVisible(on);
    showSoundOrDifference();
  });
  resize(900, 520);
}

void SpectrogramWindow::setContent(const QImage& picture, const QImage& sound, float durationSeconds,
                                   const RenderSettings& settings) {
  picture_ = picture;
  sound_ = sound;
  picturePanel_->setAxes(durationSeconds, settings);
  soundPanel_->setAxes(durationSeconds, settings);
  picturePanel_->setImage(picture_);
  showSoundOrDifference();
}

void SpectrogramWindow::showSoundOrDifference() {
  const bool difference = differenceToggle_->isChecked();
  soundTitle_->setText(difference ? QStringLiteral("Difference (sound - picture)") : QStringLiteral("Generated sound"));
  soundPanel_->setImage(difference ? differenceImage(picture_, sound_) : sound_);
}

void SpectrogramWindow::setPlayhead(qreal fraction) {
  picturePanel_->setPlayhead(fraction);
  soundPanel_->setPlayhead(fraction);
}

void SpectrogramWindow::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (!placed_) {
    // First shown in the middle of the screen, within it.
    placed_ = true;
    if (const QScreen* s = screen()) {
      const QRect area = s->availableGeometry();
      if (width() > area.width() || height() > area.height()) {
        resize(std::min(width(), area.width()), std::min(height(), area.height()));
      }
      QRect frame = frameGeometry();
      frame.moveCenter(area.center());
      move(frame.topLeft());
    }
  }
  if (!followsScreen_ && windowHandle() != nullptr) {
    // The axes are drawn for the screen's pixel density.
    followsScreen_ = true;
    connect(windowHandle(), &QWindow::screenChanged, this, [this] {
      picturePanel_->layOut();
      soundPanel_->layOut();
    });
  }
}

}  // namespace vellomar
