// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/template/template_window.h"

#include <QCloseEvent>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QResizeEvent>
#include <QWindow>
#include <algorithm>

#include "engine/scales.h"
#include "ui/common/app_state.h"
#include "ui/axes/axes.h"
#include "ui/common/dialog_units.h"
#include "ui/progress/progress_dialog.h"
#include "ui/axes/rulers.h"

namespace vellomar {

int templateWindowHeight = 0;

namespace {

constexpr int kMinimumWidth = 180;
constexpr int kSideRoom = 14;
const QColor kRulerColour(230, 230, 230);

}  // namespace

int templateLength(int width, qreal pixelRatio) {
  const qreal ratio = pixelRatio > 0.0 ? pixelRatio : 1.0;
  return width > 0 ? qRound(width * ratio) : 0;
}

QImage drawTemplateRuler(int width, int height, qreal pixelRatio) {
  const qreal ratio = pixelRatio > 0.0 ? pixelRatio : 1.0;
  // Everything below is in device pixels; the fixed distances of the band
  // are window pixels, scaled.
  const auto px = [ratio](int windowPixels) { return qRound(windowPixels * ratio); };
  const int w = templateLength(width, ratio);
  const int h = templateLength(height, ratio);
  QImage image(w > 0 ? w : 1, h > 0 ? h : 1, QImage::Format_RGB32);
  image.fill(Qt::black);
  if (w > 0 && h > 0) {
    QFont font = rulerFont();
    font.setPixelSize(px(font.pixelSize()));
    QPainter painter(&image);
    RulerSpec spec;
    spec.surface = &painter;
    spec.colour = kRulerColour;
    spec.vertical = false;
    spec.ticksPositive = false;
    spec.baseline = h - px(4);
    spec.start = 0;
    spec.tickLength = h - px(38);
    spec.length = w;
    spec.margin = px(4);
    spec.endRoom = 0;
    // The picture's band on its scale: the scale's own ends unless a band
    // is chosen.
    const ScaleMapping band = pictureMapping(renderSettings, static_cast<float>(w));
    // Note names, when the axis shows them, on the Logarithmic scale.
    const double notes = noteChoice.namesOnAxis && renderSettings.frequencyScale == FrequencyScale::Logarithmic
                             ? noteChoice.a4Hz
                             : 0.0;
    const bool ownBand = isOwnBand(renderSettings);
    spec.from = band.fLow;
    spec.to = ownBand ? static_cast<float>(renderSettings.sampleRate / 2) : band.fHigh;
    spec.siPrefixes = true;
    spec.endMarks = false;
    spec.noNumbers = false;
    if (!band.warp) {
      spec.minTickGap = px(3);
      spec.precision = 0;
      if (!ownBand) fitBandLabels(spec, 0, rulerMeasurer(font, &image));
      spec.endPrecision = -1;
      drawLinearRuler(spec, font);
    } else {
      spec.precision = 2;
      spec.mapping = band.warp;
      spec.endPrecision = 0;
      spec.minorLabelGap = px(8);
      if (notes > 0.0)
        drawNoteRuler(spec, notes, font);
      else
        drawLogRuler(spec, font);
    }

    painter.setFont(font);
    painter.setPen(kRulerColour);
    const QFontMetrics metrics(font, &image);
    const QString title = frequencyAxisTitle(notes);
    const int titleWidth = metrics.horizontalAdvance(title);
    painter.drawText(QRect(w / 2 - titleWidth / 2 - 1, px(4), titleWidth + 2, metrics.height()),
                     Qt::AlignHCenter | Qt::AlignTop, title);
  }
  // Set last: the ruler above is drawn in device pixels.
  image.setDevicePixelRatio(ratio);
  return image;
}

TemplateLayout templateLayout(const QSize& client, int instructionsWidth, const QRect& readOut, int readOutTextWidth,
                              const QSize& closeSize, int bandTop, int bandBottom) {
  const int cw = client.width();
  const int ch = client.height();
  TemplateLayout layout;
  layout.instructionsX = (cw - instructionsWidth) / 2;
  const int readOutWidth = std::max(readOut.width(), readOutTextWidth);
  layout.readOut = QRect((cw - readOutWidth) / 2, readOut.y(), readOutWidth, readOut.height());
  layout.close = QPoint((cw - closeSize.width()) / 2, ch - (3 * closeSize.height()) / 2);
  layout.band = QRect(kSideRoom, bandTop, std::max(0, cw - 2 * kSideRoom), bandBottom - bandTop);
  return layout;
}

TemplateWindow::TemplateWindow(QWidget* owner) : QDialog(owner) {
  setObjectName("templateWindow");
  setWindowTitle("Frequency scale template");
  // Caption bar and sizing border, no system menu and no buttons on the
  // caption.
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
  setModal(true);
  setFont(dialogFont());
  const DialogBaseUnits units = dialogBaseUnits(font());

  closeButton_ = new QPushButton("Close", this);
  closeButton_->setObjectName("closeButton");
  closeButton_->setDefault(true);
  closeButton_->setGeometry(dluToPixels(165, 109, 50, 14, units));
  connect(closeButton_, &QPushButton::clicked, this, [this] { done(kTemplateClosed); });

  instructions_ = new QLabel(
      "You can copy the scale into your own picture, using "
      "PrintScreen or Alt+PrintScreen. Resize this window to "
      "change the scale length",
      this);
  instructions_->setObjectName("instructions");
  instructions_->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
  instructions_->setWordWrap(true);
  instructions_->setGeometry(dluToPixels(119, 7, 160, 25, units));

  band_ = new QLabel(this);
  band_->setObjectName("rulerBand");
  band_->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  band_->setLineWidth(1);
  band_->setGeometry(dluToPixels(7, 53, 16, 14, units));

  // The band's vertical extent.
  const QRect reference = dluToPixels(57, 37, 154, 49, units);
  bandTop_ = reference.top();
  bandBottom_ = reference.top() + reference.height();

  lengthLabel_ = new QLabel("Current length XXX pixels", this);
  lengthLabel_->setObjectName("lengthLabel");
  readOutPlace_ = dluToPixels(149, 94, 82, 8, units);
  lengthLabel_->setGeometry(readOutPlace_);

  setMinimumWidth(kMinimumWidth);
  resize(dluToPixelsX(382, units), dluToPixelsY(130, units));
  closeButton_->setFocus();
}

void TemplateWindow::showEvent(QShowEvent* event) {
  // The height stays what it is when the window opens.
  templateWindowHeight = height();
  setMinimumHeight(templateWindowHeight);
  setMaximumHeight(templateWindowHeight);
  QDialog::showEvent(event);
  if (!followsScreen_ && windowHandle() != nullptr) {
    // On a screen of another pixel density the ruler is drawn anew.
    followsScreen_ = true;
    connect(windowHandle(), &QWindow::screenChanged, this, [this] { layOut(); });
  }
  layOut();
}

void TemplateWindow::resizeEvent(QResizeEvent* event) {
  QDialog::resizeEvent(event);
  layOut();
}

void TemplateWindow::closeEvent(QCloseEvent* event) {
  // A window manager may put a close box on the caption whatever the
  // window asks for: it does what "Close" does.
  event->ignore();
  if (isVisible()) closeButton_->click();
}

void TemplateWindow::layOut() {
  const qreal ratio = devicePixelRatio();
  const int h = bandBottom_ - bandTop_;
  const int w = std::max(0, width() - 2 * kSideRoom);
  const QString readOut = QString::asprintf("Current length %d pixels", templateLength(w, ratio));
  lengthLabel_->setText(readOut);
  const TemplateLayout layout =
      templateLayout(size(), instructions_->width(), readOutPlace_, lengthLabel_->sizeHint().width(),
                     closeButton_->size(), bandTop_, bandBottom_);
  instructions_->move(layout.instructionsX, instructions_->y());
  lengthLabel_->setGeometry(layout.readOut);
  closeButton_->move(layout.close);

  ruler_ = drawTemplateRuler(layout.band.width(), h, ratio);
  // The sunken edge lies just outside the band, so all of the ruler stays
  // visible.
  band_->setGeometry(layout.band.adjusted(-1, -1, 1, 1));
  band_->setPixmap(QPixmap::fromImage(ruler_));
}

int runTemplateWindow(QWidget* owner) {
  TemplateWindow window(owner);
  if (owner != nullptr) window.move(clientOrigin(owner));
  return window.exec();
}

}  // namespace vellomar
