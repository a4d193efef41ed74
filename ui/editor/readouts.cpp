// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/editor/readouts.h"

#include <algorithm>
#include <QStringList>
#include <cmath>

#include "ui/document/column_scale.h"

namespace vellomar {

namespace {

NoteNamer gNamer = defaultNoteName;

QString hertz(double hz) {
  if (hz >= 1000.0) return QStringLiteral("%1 kHz").arg(hz / 1000.0, 0, 'f', 3);
  return QStringLiteral("%1 Hz").arg(hz, 0, 'f', 1);
}

}  // namespace

QString defaultNoteName(double hz) {
  if (!(hz > 0.0) || !std::isfinite(hz)) return {};
  static const char* const kNames[12] = {"C", "C#", "D", "D#", "E", "F", "F#", "G", "G#", "A", "A#", "B"};
  const double midi = 69.0 + 12.0 * std::log2(hz / 440.0);
  const long nearest = std::lround(midi);
  const long cents = std::lround((midi - static_cast<double>(nearest)) * 100.0);
  const long octave = nearest / 12 - 1 - (nearest < 0 && nearest % 12 != 0 ? 1 : 0);
  const long index = ((nearest % 12) + 12) % 12;
  QString name = QString::fromLatin1(kNames[index]) + QString::number(octave);
  if (cents != 0) name += QStringLiteral(" %1%2 ct").arg(cents > 0 ? QStringLiteral("+") : QString()).arg(cents);
  return name;
}

void setNoteNamer(NoteNamer namer) { gNamer = namer ? std::move(namer) : NoteNamer(defaultNoteName); }

const NoteNamer& noteNamer() { return gNamer; }

double timeAt(double y, std::uint32_t height, double durationSeconds) {
  if (height < 2) return durationSeconds * std::clamp(y / std::max<std::uint32_t>(height, 1), 0.0, 1.0);
  return std::clamp((y - 0.5) * durationSeconds / (height - 1), 0.0, durationSeconds);
}

double yOfTime(double seconds, std::uint32_t height, double durationSeconds) {
  if (!(durationSeconds > 0.0)) return 0.0;
  if (height < 2) return seconds / durationSeconds * std::max<std::uint32_t>(height, 1);
  return seconds * (height - 1) / durationSeconds + 0.5;
}

QString readoutText(const PictureBitmap& picture, const RenderSettings& settings, double durationSeconds, double x,
                    double y) {
  if (!(x >= 0.0 && y >= 0.0 && x < picture.width && y < picture.height)) return {};
  const auto column = static_cast<std::uint32_t>(x);
  const auto row = static_cast<std::uint32_t>(y);
  // The time and frequency where the render reads the pixel: its row's
  // and its column's centre.
  const ColumnScale scale(settings, picture.width);
  const double hz = scale.frequencyAt(column);
  QStringList parts;
  if (durationSeconds > 0.0) {
    parts << QStringLiteral("Time %1 s").arg(timeAt(row + 0.5, picture.height, durationSeconds), 0, 'f', 3);
  } else {
    parts << QStringLiteral("Time ?");
  }
  QString frequency = QStringLiteral("Frequency ") + hertz(hz);
  if (settings.frequencyScale == FrequencyScale::Logarithmic) {
    const QString note = gNamer(hz);
    if (!note.isEmpty()) frequency += QStringLiteral(" (") + note + QStringLiteral(")");
  }
  parts << frequency;
  parts << QStringLiteral("Pixel %1, %2").arg(column).arg(row);
  const std::size_t i = static_cast<std::size_t>(picture.height - 1 - row) * picture.stride + column;
  parts << QStringLiteral("Brightness %1").arg(picture.pixels[i]);
  if (settings.stereo) {
    const bool colour = picture.red.size() == picture.pixels.size() && picture.green.size() == picture.pixels.size();
    const int red = colour ? picture.red[i] : picture.pixels[i];
    const int green = colour ? picture.green[i] : picture.pixels[i];
    parts << QStringLiteral("Red %1 (left)").arg(red) << QStringLiteral("Green %1 (right)").arg(green);
  }
  return parts.join(QStringLiteral("   "));
}

}  // namespace vellomar
