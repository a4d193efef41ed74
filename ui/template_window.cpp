#include "ui/template_window.h"

#include <QCloseEvent>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QResizeEvent>

#include "engine/scales.h"
#include "ui/app_state.h"
#include "ui/axes.h"
#include "ui/dialog_units.h"
#include "ui/progress_dialog.h"
#include "ui/rulers.h"

namespace vellomar {

int templateWindowHeight = 0;

namespace {

constexpr int kMinimumWidth = 180;
constexpr int kSideRoom = 14;
const QColor kRulerColour(230, 230, 230);

}  // namespace

QImage drawTemplateRuler(int width, int height) {
  QImage image(width > 0 ? width : 1, height > 0 ? height : 1, QImage::Format_RGB32);
  image.fill(Qt::black);
  if (width <= 0 || height <= 0) return image;

  QPainter painter(&image);
  RulerSpec spec;
  spec.surface = &painter;
  spec.colour = kRulerColour;
  spec.vertical = false;
  spec.ticksPositive = false;
  spec.baseline = height - 4;
  spec.start = 0;
  spec.tickLength = height - 38;
  spec.length = width;
  spec.margin = 4;
  spec.endRoom = 0;
  spec.to = static_cast<float>(renderSettings.sampleRate / 2);
  spec.siPrefixes = true;
  spec.endMarks = false;
  spec.noNumbers = false;
  if (renderSettings.frequencyScale == FrequencyScale::Linear) {
    spec.from = 0.0f;
    spec.minTickGap = 3;
    spec.precision = 0;
    spec.endPrecision = -1;
    drawLinearRuler(spec);
  } else {
    spec.from = kLowestWarpedFrequency;
    spec.precision = 2;
    spec.mapping = renderSettings.frequencyScale == FrequencyScale::Mel ? melWarp : logWarp;
    spec.endPrecision = 0;
    spec.minorLabelGap = 8;
    drawLogRuler(spec);
  }

  painter.setFont(rulerFont());
  painter.setPen(kRulerColour);
  const QFontMetrics metrics(painter.font());
  const int titleWidth = metrics.horizontalAdvance(kFrequencyAxisTitle);
  painter.drawText(QRect(width / 2 - titleWidth / 2 - 1, 4, titleWidth + 2, metrics.height()),
                   Qt::AlignHCenter | Qt::AlignTop, kFrequencyAxisTitle);
  return image;
}

TemplateWindow::TemplateWindow(QWidget* owner) : QDialog(owner) {
  setObjectName("templateWindow");
  setWindowTitle("Frequency scale template");
  // Caption bar and sizing border, no system menu and no close box.
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
  lengthLabel_->setGeometry(dluToPixels(149, 94, 82, 8, units));

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
  layOut();
}

void TemplateWindow::resizeEvent(QResizeEvent* event) {
  QDialog::resizeEvent(event);
  layOut();
}

void TemplateWindow::closeEvent(QCloseEvent* event) { event->ignore(); }

void TemplateWindow::layOut() {
  const int cw = width();
  const int ch = height();
  instructions_->move((cw - instructions_->width()) / 2, instructions_->y());
  lengthLabel_->move((cw - lengthLabel_->width()) / 2, lengthLabel_->y());
  closeButton_->move((cw - closeButton_->width()) / 2, ch - (3 * closeButton_->height()) / 2);

  const int w = cw - 2 * kSideRoom;
  const int h = bandBottom_ - bandTop_;
  lengthLabel_->setText(QString::asprintf("Current length %d pixels", w));
  ruler_ = drawTemplateRuler(w, h);
  // The sunken edge lies just outside the band, so all W pixels of the
  // ruler stay visible.
  band_->setGeometry(kSideRoom - 1, bandTop_ - 1, (w > 0 ? w : 0) + 2, h + 2);
  band_->setPixmap(QPixmap::fromImage(ruler_));
}

int runTemplateWindow(QWidget* owner) {
  TemplateWindow window(owner);
  if (owner != nullptr) window.move(clientOrigin(owner));
  return window.exec();
}

}  // namespace vellomar
