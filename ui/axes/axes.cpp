// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/axes/axes.h"

#include <QFontMetrics>
#include <QLabel>
#include <QPainter>
#include <QPixmap>
#include <algorithm>
#include <cmath>

#include "engine/scales.h"
#include "ui/main_window/main_window.h"
#include "ui/axes/preview_frame.h"

namespace vellomar {

bool keepMelMinorTick(float value) { return value >= 100.0f; }

AxesLayout axesLayout(const QRect& frame, int timeGrowth) {
  // L, T, R, B with R and B just outside the frame.
  const int left = frame.x();
  const int top = frame.y();
  const int right = frame.x() + frame.width();
  const int bottom = frame.y() + frame.height();
  AxesLayout layout;
  const int growth = std::max(0, timeGrowth);
  layout.timeStrip = QRect(QPoint(left - 60 - growth, top - 4), QSize(kTimeStripWidth + growth, frame.height() + 8));
  layout.frequencyStrip = QRect(QPoint(left - 9, bottom + 2), QSize(right - left + 18, 46));
  layout.interiorWidth = frame.width() - 2;
  layout.interiorHeight = frame.height() - 2;
  return layout;
}

float axisDuration(const RenderSettings& settings, float waveDuration) {
  return settings.inputSource == InputSource::WaveFile ? waveDuration : settings.durationSeconds;
}

RulerSpec timeAxisSpec(float durationSeconds, int interiorHeight) {
  const float d = durationSeconds;
  const bool minutes = d >= 300.0f;
  const float shown = minutes ? d / 60.0f : d;
  int decimals = 0;
  if (shown > 0.0f) {
    const float magnitude = static_cast<float>(std::log10(static_cast<double>(shown)));
    decimals = std::max(0, 1 - static_cast<int>(std::floor(magnitude)));
  }
  RulerSpec spec;
  spec.vertical = true;
  spec.ticksPositive = false;
  spec.baseline = 56;
  spec.start = 5;
  spec.tickLength = 10;
  spec.length = interiorHeight;
  spec.margin = 0;
  spec.endRoom = 0;
  spec.from = 0.0f;
  spec.to = d == 0.0f ? 50.0f : shown;
  spec.minTickGap = 4;
  spec.precision = decimals;
  spec.siPrefixes = false;
  spec.endMarks = d == 0.0f;
  spec.endPrecision = 0;
  spec.noNumbers = d == 0.0f;
  return spec;
}

QString timeAxisTitle(float durationSeconds) {
  if (durationSeconds == 0.0f) return QStringLiteral("Time");
  return durationSeconds >= 300.0f ? QStringLiteral("Time (minutes)") : QStringLiteral("Time (seconds)");
}

namespace {

// Settings that differ from the defaults only in scale and rate: the
// scale's own band.
RenderSettings scaleSettings(FrequencyScale scale, std::uint32_t sampleRate) {
  RenderSettings settings;
  settings.frequencyScale = scale;
  settings.sampleRate = sampleRate;
  return settings;
}

}  // namespace

int bandLabelPrecision(float step, float from, float to, int precision) {
  if (!(step > 0.0f) || !std::isfinite(step)) return precision;
  // Labels print in the unit of their SI prefix; the largest needs the
  // most decimals.
  const double high = std::max(std::fabs(static_cast<double>(from)), std::fabs(static_cast<double>(to)));
  const double top = (std::ceil(high / step) - 1.0) * step;
  double unit = 1.0;
  while (static_cast<double>(top) >= 1000.0 * unit && unit < 1e12) unit *= 1000.0;
  const double ratio = static_cast<double>(step) / unit;
  if (!(ratio > 0.0) || !std::isfinite(ratio)) return precision;
  const int needed = static_cast<int>(std::ceil(-std::log10(ratio) - 1e-6));
  return std::clamp(needed, precision, 9);
}

void fitBandLabels(RulerSpec& spec, int precision, const TextMeasurer& measure) {
  constexpr int kLabelGap = 4;
  if (spec.length < 1) return;
  const float valuePerPixel = std::fabs(spec.to - spec.from) / static_cast<float>(spec.length);
  // A wider gap gives fewer, coarser labels; past the ruler's length there
  // is at most one.
  for (; spec.minTickGap <= spec.length; ++spec.minTickGap) {
    const TickSpacing spacing = chooseTickSpacing(valuePerPixel, spec.minTickGap);
    spec.precision = bandLabelPrecision(spacing.major, spec.from, spec.to, precision);
    const RulerGeometry ruler = layoutLinearRuler(spec, measure);
    // The tick labels share one line; the end labels stand on another.
    bool apart = true;
    int previousRight = 0;
    bool first = true;
    for (const RulerText& text : ruler.texts) {
      if (text.y != spec.baseline + (spec.ticksPositive ? 1 : -1) * (spec.tickLength + 3)) continue;
      const int width = measure(text.text).width;
      const int left = text.x - width / 2;
      if (!first && left - previousRight < kLabelGap) apart = false;
      previousRight = left + width;
      first = false;
    }
    if (apart) return;
  }
}

FrequencyAxis frequencyAxisSpec(FrequencyScale scale, std::uint32_t sampleRate, int interiorWidth) {
  return frequencyAxisSpec(scaleSettings(scale, sampleRate), interiorWidth);
}

double axisNotesA4Hz() { return noteChoice.namesOnAxis ? noteChoice.a4Hz : 0.0; }

QString frequencyAxisTitle(double noteA4Hz) {
  if (!(noteA4Hz > 0.0)) return kFrequencyAxisTitle;
  return QStringLiteral("Frequency (notes, A4 = %1 Hz)").arg(noteA4Hz);
}

FrequencyAxis frequencyAxisSpec(const RenderSettings& settings, int interiorWidth, const TextMeasurer& measure,
                                double noteA4Hz) {
  const ScaleMapping band = pictureMapping(settings, static_cast<float>(interiorWidth));
  const bool ownBand = isOwnBand(settings);
  FrequencyAxis axis;
  RulerSpec& spec = axis.spec;
  spec.vertical = false;
  spec.ticksPositive = true;
  spec.baseline = 2;
  spec.start = 10;
  spec.tickLength = 10;
  spec.length = interiorWidth;
  spec.margin = 0;
  spec.endRoom = 9;
  // The rate's half in whole hertz, as a float: the scale's own top.
  spec.to = ownBand ? static_cast<float>(settings.sampleRate / 2) : band.fHigh;
  spec.siPrefixes = true;
  spec.endMarks = true;
  spec.noNumbers = false;
  spec.from = band.fLow;
  if (!band.warp) {
    spec.minTickGap = 3;
    spec.precision = 0;
    spec.endPrecision = 2;
    if (!ownBand && interiorWidth > 0) {
      // A narrow band ticks at fractions of a kilohertz: label them so
      // that they tell apart, and, measured, so that they keep apart.
      const TickSpacing spacing =
          chooseTickSpacing(std::fabs(spec.to - spec.from) / static_cast<float>(interiorWidth), spec.minTickGap);
      spec.precision = bandLabelPrecision(spacing.major, spec.from, spec.to, spec.precision);
      if (measure) fitBandLabels(spec, 0, measure);
    }
    return axis;
  }
  axis.logarithmic = true;
  spec.precision = 2;
  spec.endPrecision = 4;
  spec.minorLabelGap = 0;
  spec.mapping = band.warp;
  if (settings.frequencyScale == FrequencyScale::Mel) spec.tickFilter = keepMelMinorTick;
  if (settings.frequencyScale == FrequencyScale::Logarithmic && noteA4Hz > 0.0) axis.noteA4Hz = noteA4Hz;
  return axis;
}

int timeStripGrowth(const RulerGeometry& ruler, const TextMeasurer& measure, int titleHeight) {
  constexpr int kTitleLeft = 2;
  constexpr int kClearance = 3;
  int leftmost = kTimeStripWidth;
  for (const RulerText& text : ruler.texts) {
    const int width = measure(text.text).width;
    int left = text.x;
    if (ruler.hAlign == TextHAlign::Center) left -= width / 2;
    if (ruler.hAlign == TextHAlign::Right) left -= width;
    leftmost = std::min(leftmost, left);
  }
  return std::max(0, kTitleLeft + titleHeight + kClearance - leftmost);
}

QImage denseImage(int width, int height, qreal pixelRatio, const QColor& background) {
  const qreal ratio = pixelRatio > 0.0 ? pixelRatio : 1.0;
  QImage image(std::max(1, qRound(width * ratio)), std::max(1, qRound(height * ratio)), QImage::Format_RGB32);
  image.setDevicePixelRatio(ratio);
  image.fill(background);
  return image;
}

namespace {

void prepare(QPainter& painter, const QColor& text) {
  // A ruler that draws nothing leaves the pen alone; the title still needs it.
  painter.setPen(text);
  painter.setFont(rulerFont());
}

}  // namespace

QImage drawTimeAxis(float durationSeconds, int interiorHeight, const QColor& background, const QColor& text,
                    qreal pixelRatio) {
  // Measured as the strip will show the texts: the same font at the same
  // pixel density.
  const QFont font = rulerFont();
  const QImage probe = denseImage(1, 1, pixelRatio, background);
  const TextMeasurer measure = rulerMeasurer(font, &probe);
  const QFontMetrics metrics(font, &probe);
  const RulerGeometry ruler = layoutLinearRuler(timeAxisSpec(durationSeconds, interiorHeight), measure);
  const int growth = timeStripGrowth(ruler, measure, metrics.height());

  QImage image = denseImage(kTimeStripWidth + growth, interiorHeight + 10, pixelRatio, background);
  QPainter painter(&image);
  prepare(painter, text);
  // The ruler keeps to the strip's right edge, by the frame.
  painter.translate(growth, 0);
  paintRuler(painter, ruler, font, text);
  painter.translate(-growth, 0);

  // The title reads upward, its top toward the strip's left edge.
  const QString title = timeAxisTitle(durationSeconds);
  painter.save();
  painter.translate(2, interiorHeight / 2);
  painter.rotate(-90.0);
  painter.drawText(-metrics.horizontalAdvance(title) / 2, metrics.ascent(), title);
  painter.restore();
  return image;
}

QImage drawFrequencyAxis(FrequencyScale scale, std::uint32_t sampleRate, int interiorWidth, const QColor& background,
                         const QColor& text, qreal pixelRatio) {
  return drawFrequencyAxis(scaleSettings(scale, sampleRate), interiorWidth, background, text, pixelRatio);
}

QImage drawFrequencyAxis(const RenderSettings& settings, int interiorWidth, const QColor& background,
                         const QColor& text, qreal pixelRatio, double noteA4Hz) {
  QImage image = denseImage(interiorWidth + 20, 46, pixelRatio, background);
  QPainter painter(&image);
  prepare(painter, text);
  FrequencyAxis axis = frequencyAxisSpec(settings, interiorWidth, rulerMeasurer(rulerFont(), &image), noteA4Hz);
  axis.spec.surface = &painter;
  axis.spec.colour = text;
  if (axis.noteA4Hz > 0.0)
    drawNoteRuler(axis.spec, axis.noteA4Hz);
  else if (axis.logarithmic)
    drawLogRuler(axis.spec);
  else
    drawLinearRuler(axis.spec);

  const QFontMetrics metrics(painter.font(), &image);
  const QString title = frequencyAxisTitle(axis.noteA4Hz);
  painter.drawText(interiorWidth / 2 - metrics.horizontalAdvance(title) / 2, 44 - metrics.descent(), title);
  return image;
}

void redrawAxes(MainWindow& window) {
  const MainWindowControls& c = window.controls();
  const QRect frame = c.previewFrame->geometry();
  const QPalette& palette = window.palette();
  const QColor background = palette.color(QPalette::Window);
  const QColor text = palette.color(QPalette::WindowText);
  const qreal ratio = window.devicePixelRatio();

  const float duration = axisDuration(renderSettings, inputWaveDuration);
  const QImage timeImage = drawTimeAxis(duration, axesLayout(frame).interiorHeight, background, text, ratio);
  const int growth = qRound(timeImage.deviceIndependentSize().width()) - kTimeStripWidth;
  const AxesLayout layout = axesLayout(frame, growth);
  c.timeAxisStrip->setGeometry(layout.timeStrip);
  c.timeAxisStrip->setPixmap(QPixmap::fromImage(timeImage));

  const QImage frequencyImage =
      drawFrequencyAxis(renderSettings, layout.interiorWidth, background, text, ratio, axisNotesA4Hz());
  c.freqAxisStrip->setGeometry(layout.frequencyStrip);
  c.freqAxisStrip->setPixmap(QPixmap::fromImage(frequencyImage));
}

}  // namespace vellomar
