// The preview's axes: time in a strip left of the preview frame (top row =
// start of the sound), frequency in a strip below it (left column = lowest
// frequency of the scale).
#pragma once

#include <QImage>
#include <QRect>
#include <QString>
#include <cstdint>

#include "ui/app_state.h"
#include "ui/rulers.h"

namespace vellomar {

class MainWindow;

// Tick filter of the Mel frequency axis: no minor ticks below 100 Hz.
bool keepMelMinorTick(float value);

// Where the strips go around a preview frame with outer rectangle `frame`
// (in the coordinates of the frame's parent).
struct AxesLayout {
  QRect timeStrip;         // x from L - 60 to L - 2, y from T - 4 to B + 4
  QRect frequencyStrip;    // x from L - 9 to R + 9, y from B + 2 to B + 48
  int interiorWidth = 0;   // Wp
  int interiorHeight = 0;  // Hp
};
AxesLayout axesLayout(const QRect& frame);

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
};
FrequencyAxis frequencyAxisSpec(FrequencyScale scale, std::uint32_t sampleRate, int interiorWidth);

inline const QString kFrequencyAxisTitle = QStringLiteral("Frequency (hertz)");

// The two strip images, filled with `background` and drawn in `text`.
QImage drawTimeAxis(float durationSeconds, int interiorHeight, const QColor& background, const QColor& text);
QImage drawFrequencyAxis(FrequencyScale scale, std::uint32_t sampleRate, int interiorWidth, const QColor& background,
                         const QColor& text);

// Lays out both strips around the main window's preview frame and gives
// each a freshly drawn image, from renderSettings and inputWaveDuration.
void redrawAxes(MainWindow& window);

}  // namespace vellomar
