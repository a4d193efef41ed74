// SPDX-License-Identifier: GPL-3.0-or-later
// The preview's axes: time in a strip left of the preview frame (top row =
// start of the sound), frequency in a strip below it (left column = lowest
// frequency of the scale).
#pragma once

#include <QImage>
#include <QRect>
#include <QString>
#include <cstdint>

#include "ui/common/app_state.h"
#include "ui/axes/rulers.h"

namespace vellomar {

class MainWindow;

// Tick filter of the Mel frequency axis: no minor ticks below 100 Hz.
bool keepMelMinorTick(float value);

// The time strip's width when its labels leave the title room enough.
inline constexpr int kTimeStripWidth = 58;

// Where the strips go around a preview frame with outer rectangle `frame`
// (in the coordinates of the frame's parent). `timeGrowth` widens the
// time strip to the left (its right edge stays by the frame).
struct AxesLayout {
  QRect timeStrip;         // x from L - 60 - growth to L - 2, y from T - 4 to B + 4
  QRect frequencyStrip;    // x from L - 9 to R + 9, y from B + 2 to B + 48
  int interiorWidth = 0;   // Wp
  int interiorHeight = 0;  // Hp
};
AxesLayout axesLayout(const QRect& frame, int timeGrowth = 0);

// The time axis's title reads upward along the strip's left edge, from
// x = 2 over the font's height. How many pixels the strip has to grow
// leftward so that every text of the laid-out time ruler keeps 3 pixels
// clear of it (0 when they already do).
int timeStripGrowth(const RulerGeometry& ruler, const TextMeasurer& measure, int titleHeight);

// The duration the time axis shows: the input file's length for a wave
// source, else the noise duration.
float axisDuration(const RenderSettings& settings, float waveDuration);

// The time ruler for a duration in seconds over Hp pixels (minutes from
// 300 s on; an unlabelled 0 ... 50 ruler for a duration of 0).
RulerSpec timeAxisSpec(float durationSeconds, int interiorHeight);
QString timeAxisTitle(float durationSeconds);

// The frequency ruler for a scale over Wp pixels. `logarithmic` tells
// which ruler draws it.
struct FrequencyAxis {
  RulerSpec spec;
  bool logarithmic = false;
  double noteA4Hz = 0.0;  // > 0: the ruler names notes of this tuning (layoutNoteRuler)
};
FrequencyAxis frequencyAxisSpec(FrequencyScale scale, std::uint32_t sampleRate, int interiorWidth);
// The same for the picture's band of `settings` (their scale, rate and
// band): the ruler runs from the band's low end to its high end. With a
// measurer, a linear ruler over a chosen band is fitted (fitBandLabels).
// A `noteA4Hz` above 0 names notes of that tuning instead of hertz on the
// Logarithmic scale.
FrequencyAxis frequencyAxisSpec(const RenderSettings& settings, int interiorWidth,
                                const TextMeasurer& measure = TextMeasurer(), double noteA4Hz = 0.0);

// The tuning whose notes the frequency axes name instead of hertz on the
// Logarithmic scale (noteChoice, the View menu's "Note names on the
// frequency axis"), or 0 when they show hertz.
double axisNotesA4Hz();

// The frequency axis's title: kFrequencyAxisTitle, or with notes
// "Frequency (notes, A4 = 440 Hz)".
QString frequencyAxisTitle(double noteA4Hz);

// Fits a horizontal linear ruler over a chosen band to its labels: the
// least tick gap, from spec.minTickGap up, whose labels (with the decimals
// of bandLabelPrecision, at least `precision`) keep 4 pixels apart. The
// scale's own bands have short labels and are never fitted.
void fitBandLabels(RulerSpec& spec, int precision, const TextMeasurer& measure);

// Decimals that tell apart the labels of a linear ruler from `from` to
// `to` whose labelled ticks lie `step` apart, as their SI-prefixed texts
// print them (at least `precision`). The last tick below the top end has
// the largest prefix; the end itself is never a tick's label.
int bandLabelPrecision(float step, float from, float to, int precision);

inline const QString kFrequencyAxisTitle = QStringLiteral("Frequency (hertz)");

// The two strip images, filled with `background` and drawn in `text`, with
// `pixelRatio` device pixels to a pixel of the layout (the screen's device
// pixel ratio), so that they come out crisp on a dense screen. The time
// strip is kTimeStripWidth + timeStripGrowth pixels wide.
QImage drawTimeAxis(float durationSeconds, int interiorHeight, const QColor& background, const QColor& text,
                    qreal pixelRatio = 1.0);
QImage drawFrequencyAxis(FrequencyScale scale, std::uint32_t sampleRate, int interiorWidth, const QColor& background,
                         const QColor& text, qreal pixelRatio = 1.0);
QImage drawFrequencyAxis(const RenderSettings& settings, int interiorWidth, const QColor& background,
                         const QColor& text, qreal pixelRatio = 1.0, double noteA4Hz = 0.0);

// An image of width x height layout pixels at `pixelRatio`, filled with
// `background`; a painter on it works in layout pixels.
QImage denseImage(int width, int height, qreal pixelRatio, const QColor& background);

// Lays out both strips around the main window's preview frame and gives
// each a freshly drawn image, from renderSettings and inputWaveDuration
// (and noteChoice: notes on the Logarithmic scale when it names them).
void redrawAxes(MainWindow& window);

}  // namespace vellomar
