// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/axes/rulers.h"

#include <QFontInfo>
#include <QFontMetrics>
#include <QPainter>
#include <algorithm>
#include <cmath>
#include <cstdio>

#include "engine/notes.h"
#include "ui/common/dialog_units.h"

namespace vellomar {
namespace {

const char* const kSiPrefixes[9] = {"p", "n", "u", "m", "", "k", "M", "G", "T"};

// trunc(x + 0.5) for the non-negative pixel offsets of a ruler.
int roundPixel(double x) { return static_cast<int>(std::trunc(x + 0.5)); }

// Everything both rulers derive from their description before placing ticks.
struct Frame {
  int s = 1;             // +1 when ticks grow toward larger across-coordinates
  int endMark = 0;       // end mark length, 0 without end marks
  int endPrecision = 0;  // precision of the end labels
};

Frame frameOf(const RulerSpec& spec) {
  Frame f;
  f.s = spec.ticksPositive ? 1 : -1;
  f.endMark = spec.endMarks ? spec.tickLength + 13 : 0;
  f.endPrecision = spec.endPrecision < 0 ? spec.precision : spec.endPrecision;
  return f;
}

void setAlignment(const RulerSpec& spec, RulerGeometry& g) {
  if (spec.vertical) {
    g.hAlign = spec.ticksPositive ? TextHAlign::Left : TextHAlign::Right;
    g.vAlign = TextVAlign::Baseline;
  } else {
    g.hAlign = TextHAlign::Center;
    g.vAlign = spec.ticksPositive ? TextVAlign::Top : TextVAlign::Bottom;
  }
}

// A tick across the ruler at `pos`, from the baseline to `across`.
void addTick(const RulerSpec& spec, RulerGeometry& g, int pos, int across) {
  if (spec.vertical)
    g.lines.push_back({spec.baseline, pos, across, pos});
  else
    g.lines.push_back({pos, spec.baseline, pos, across});
}

// A label at along-position `pos` on the across-coordinate `across`.
void addLabel(const RulerSpec& spec, RulerGeometry& g, int pos, int across, std::string text) {
  if (spec.vertical)
    g.texts.push_back({across, pos + 4, std::move(text)});
  else
    g.texts.push_back({pos, across, std::move(text)});
}

// Half the label's extent along the ruler.
int halfAlong(const RulerSpec& spec, const TextMeasurer& measure, const std::string& text) {
  const TextExtent e = measure(text);
  return (spec.vertical ? e.height : e.width) / 2;
}

// True when a label centred at `pos` keeps clear of both ends (of those
// that are marked).
bool clearsEnds(const RulerSpec& spec, int pos, int half) {
  return (!spec.startMarked || pos - half > spec.start + 2) &&
         (!spec.endMarked || pos + half < spec.start + spec.length - 2);
}

// End marks and their labels, given the texts for both ends.
void addEnds(const RulerSpec& spec, const Frame& f, const TextMeasurer& measure, RulerGeometry& g,
             const std::string& startText, const std::string& endText) {
  if (f.endMark <= 0) return;
  const int tip = spec.baseline + f.s * f.endMark;
  if (spec.startMarked) addTick(spec, g, spec.start, tip);
  if (spec.endMarked) addTick(spec, g, spec.start + spec.length, tip);
  const int across = spec.baseline + f.s * (f.endMark + 3);
  if (spec.vertical) {
    if (spec.startMarked) g.texts.push_back({across, spec.start + 4, startText});
    if (spec.endMarked) g.texts.push_back({across, spec.start + spec.length + 4, endText});
  } else {
    const int pullStart = std::max(0, measure(startText).width / 2 - spec.endRoom);
    const int pullEnd = std::max(0, measure(endText).width / 2 - spec.endRoom);
    if (spec.startMarked) g.texts.push_back({spec.start + pullStart, across, startText});
    if (spec.endMarked) g.texts.push_back({spec.start + spec.length - pullEnd, across, endText});
  }
}

std::string noNumbersText(float value) { return value == 0.0f ? "0" : "?"; }

std::string linearLabel(float value, int decimals, bool siPrefixes) {
  if (std::fabs(value) == 0.0f) return "0";
  return formatAxisNumber(value, decimals, false, siPrefixes, true);
}

}  // namespace

TickSpacing chooseTickSpacing(float valuePerPixel, int minTickGap) {
  float b = static_cast<float>(minTickGap) * valuePerPixel;
  if (!(b > 0.0f) || !std::isfinite(b)) return {};
  float decade = 1.0f;
  while (b > 10.0f) {
    b *= 0.1f;
    decade *= 10.0f;
  }
  while (b <= 1.0f) {
    b *= 10.0f;
    decade *= 0.1f;
  }
  if (b <= 2.0f) return {20.0f * decade, 10.0f * decade, 2.0f * decade};
  if (b <= 5.0f) return {50.0f * decade, 10.0f * decade, 5.0f * decade};
  return {100.0f * decade, 50.0f * decade, 10.0f * decade};
}

LogTickCounts listLogTicks(float from, float to, float* majors, int majorCapacity, float* minors, int minorCapacity,
                           const std::function<bool(float)>& tickFilter) {
  LogTickCounts counts;
  if (!(from > 0.0f) || !std::isfinite(from) || !std::isfinite(to)) return counts;
  float decade = 1.0f;
  float a = from;
  while (a > 10.0f) {
    decade *= 10.0f;
    a *= 0.1f;
  }
  while (a <= 1.0f) {
    decade *= 0.1f;
    a *= 10.0f;
  }
  int e = static_cast<int>(std::ceil(a));
  float f = static_cast<float>(e) * decade;
  if (f > to) return counts;
  do {
    if (e == 10) {
      decade *= 10.0f;
      if (counts.majors < majorCapacity) majors[counts.majors++] = decade;
      e = 2;
    } else {
      if (counts.minors < minorCapacity && (!tickFilter || tickFilter(f))) minors[counts.minors++] = f;
      ++e;
    }
    f = static_cast<float>(e) * decade;
  } while (f <= to);
  return counts;
}

std::string formatAxisNumber(float value, int precision, bool significantDigits, bool siPrefixes, bool zeroAsZero) {
  if (zeroAsZero && std::fabs(value) == 0.0f) return "0";
  int index = 4;
  if (siPrefixes) {
    while (std::fabs(value) >= 1000.0f && index < 8) {
      value *= 0.001f;
      ++index;
    }
    if (value != 0.0f) {
      while (std::fabs(value) < 1.0f && index > 0) {
        --index;
        value *= 1000.0f;
      }
    }
  }
  int decimals = precision;
  if (significantDigits) {
    const float magnitude = static_cast<float>(std::log10(static_cast<double>(std::fabs(value))));
    // A value of zero (or not finite) has no leading digit; count the
    // precision as decimals then rather than take the floor of infinity.
    const int leading = std::isfinite(magnitude) ? static_cast<int>(std::floor(magnitude)) : 0;
    const int d = precision - leading - 1;
    decimals = d > 0 ? d : 0;
  }
  decimals = std::clamp(decimals, 0, 60);
  char buffer[512];
  std::snprintf(buffer, sizeof buffer, "%.*f%s", decimals, static_cast<double>(value), kSiPrefixes[index]);
  return buffer;
}

RulerGeometry layoutLinearRuler(const RulerSpec& spec, const TextMeasurer& measure) {
  RulerGeometry g;
  if (spec.length < 1 || spec.from == spec.to) return g;
  const float valuePerPixel = std::fabs(spec.to - spec.from) / static_cast<float>(spec.length);
  const TickSpacing spacing = chooseTickSpacing(valuePerPixel, spec.minTickGap);
  if (!(spacing.minor > 0.0f)) return g;

  const Frame f = frameOf(spec);
  g.drawn = true;
  setAlignment(spec, g);

  const int majorTip = spec.baseline + f.s * spec.tickLength;
  const int mediumTip = spec.baseline + f.s * ((2 * spec.tickLength) / 3);
  const int minorTip = spec.baseline + f.s * (spec.tickLength / 3);
  const int labelAcross = spec.baseline + f.s * (spec.tickLength + 3);

  if (spec.noNumbers)
    addEnds(spec, f, measure, g, noNumbersText(spec.from), noNumbersText(spec.to));
  else
    addEnds(spec, f, measure, g, linearLabel(spec.from, f.endPrecision, spec.siPrefixes),
            linearLabel(spec.to, f.endPrecision, spec.siPrefixes));

  const float lo = std::min(spec.from, spec.to);
  const float hi = std::max(spec.from, spec.to);
  const double span = static_cast<double>(hi) - static_cast<double>(lo);
  const float majorLimit = spacing.major / 256.0f;
  const float mediumLimit = spacing.medium / 256.0f;
  const auto remainder = [](float t, float step) {
    return static_cast<float>(
        std::fmod(static_cast<double>(t) + static_cast<double>(step) / 512.0, static_cast<double>(step)));
  };

  float t = std::ceil(lo / spacing.minor) * spacing.minor;
  while (t <= hi) {
    const int pos = spec.start + roundPixel((static_cast<double>(t) - lo) / span * spec.length);
    if (pos >= spec.start + spec.length - spec.margin) break;
    if (pos >= spec.start + spec.margin) {
      const bool major = remainder(t, spacing.major) < majorLimit;
      const bool medium = !major && remainder(t, spacing.medium) < mediumLimit;
      addTick(spec, g, pos, major ? majorTip : medium ? mediumTip : minorTip);
      if (major && !spec.noNumbers) {
        std::string text = linearLabel(t, spec.precision, spec.siPrefixes);
        if (f.endMark <= 0 || clearsEnds(spec, pos, halfAlong(spec, measure, text)))
          addLabel(spec, g, pos, labelAcross, std::move(text));
      }
    }
    const float next = t + spacing.minor;
    if (next == t) break;  // the step is lost in the value's rounding: no further tick
    t = next;
  }
  return g;
}

RulerGeometry layoutLogRuler(const RulerSpec& spec, const TextMeasurer& measure) {
  RulerGeometry g;
  float majors[kMaxLogMajors];
  float minors[kMaxLogMinors];
  const LogTickCounts counts =
      listLogTicks(spec.from, spec.to, majors, kMaxLogMajors, minors, kMaxLogMinors, spec.tickFilter);
  if (spec.length < 1 || spec.from == spec.to || !spec.mapping) return g;
  const float mappedFrom = spec.mapping(spec.from);
  const float mappedTo = spec.mapping(spec.to);
  const float fMin = std::min(mappedFrom, mappedTo);
  const float fMax = std::max(mappedFrom, mappedTo);
  const float range = fMax - fMin;
  // A scale that maps both ends to one place has no positions to give.
  if (!(range > 0.0f) || !std::isfinite(range)) return g;

  const Frame f = frameOf(spec);
  g.drawn = true;
  setAlignment(spec, g);

  const int majorTip = spec.baseline + f.s * spec.tickLength;
  const int minorTip = spec.baseline + f.s * (spec.tickLength / 2);
  const int majorLabelAcross = spec.baseline + f.s * (spec.tickLength + 3);
  const int minorLabelAcross = spec.baseline + f.s * (spec.tickLength / 2 + 3);

  const auto endLabel = [&](float value) {
    return spec.noNumbers ? noNumbersText(value)
                          : formatAxisNumber(value, f.endPrecision, true, spec.siPrefixes, false);
  };
  addEnds(spec, f, measure, g, endLabel(spec.from), endLabel(spec.to));

  const auto position = [&](float v) {
    const float fraction = (spec.mapping(v) - fMin) / range;
    const float offset = fraction * static_cast<float>(spec.length) + 0.5f;
    return spec.start + static_cast<int>(std::trunc(offset));
  };
  const int endLimit = spec.start + spec.length - spec.margin;
  const int startLimit = spec.start + spec.margin;

  for (int i = 0; i < counts.majors; ++i) {
    const int pos = position(majors[i]);
    if (pos >= endLimit) break;
    if (pos < startLimit) continue;
    addTick(spec, g, pos, majorTip);
    if (spec.noNumbers) continue;
    std::string text = formatAxisNumber(majors[i], spec.precision, true, spec.siPrefixes, false);
    if (f.endMark <= 0 || clearsEnds(spec, pos, halfAlong(spec, measure, text)))
      addLabel(spec, g, pos, majorLabelAcross, std::move(text));
  }

  int majorPositions[kMaxLogMajors];
  for (int i = 0; i < counts.majors; ++i) majorPositions[i] = position(majors[i]);

  int prev = -9999;
  for (int i = 0; i < counts.minors; ++i) {
    const int pos = position(minors[i]);
    if (pos >= endLimit) break;
    if (pos < startLimit) {
      prev = pos;
      continue;
    }
    addTick(spec, g, pos, minorTip);
    if (!spec.noNumbers && spec.minorLabelGap > 0) {
      const int gap = spec.minorLabelGap;
      bool room = std::abs(pos - prev) >= gap;
      if (room && i + 1 < counts.minors) room = std::abs(pos - position(minors[i + 1])) >= gap;
      for (int m = 0; room && m < counts.majors; ++m) room = std::abs(pos - majorPositions[m]) >= gap;
      if (room) {
        char scientific[64];
        std::snprintf(scientific, sizeof scientific, "%e", static_cast<double>(minors[i]));
        std::string text(1, scientific[0]);
        if (f.endMark <= 0 || clearsEnds(spec, pos, halfAlong(spec, measure, text)))
          addLabel(spec, g, pos, minorLabelAcross, std::move(text));
      }
    }
    prev = pos;
  }
  return g;
}

namespace {

// The notes from..to placed by the ruler's mapping, and the least step of
// labels that keep apart.
struct NotePlaces {
  int first = 0;                   // note number of positions[0]
  std::vector<int> positions;      // along-positions of the notes first, first + 1, ...
  std::vector<std::string> names;  // their labels
};

// The least label step (in semitones, labelled notes those whose number is
// a multiple of it) whose labels all keep `gap` pixels apart and clear the
// ends; 0 when none does.
int noteLabelStep(const RulerSpec& spec, const Frame& f, const NotePlaces& notes, const TextMeasurer& measure) {
  static const int kSteps[] = {1, 2, 3, 4, 6, 12, 24, 36, 48, 60, 120};
  for (int step : kSteps) {
    bool fits = true;
    bool any = false;
    int previousEnd = 0;
    for (std::size_t i = 0; i < notes.positions.size() && fits; ++i) {
      const int note = notes.first + static_cast<int>(i);
      if (note % step != 0) continue;
      const int pos = notes.positions[i];
      if (pos < spec.start + spec.margin || pos >= spec.start + spec.length - spec.margin) continue;
      const int half = halfAlong(spec, measure, notes.names[i]);
      if (f.endMark > 0 && !clearsEnds(spec, pos, half)) continue;
      if (any && pos - half - previousEnd < kNoteLabelGap) fits = false;
      previousEnd = pos + half;
      any = true;
    }
    if (fits) return step;
  }
  return 0;
}

}  // namespace

RulerGeometry layoutNoteRuler(const RulerSpec& spec, double a4Hz, const TextMeasurer& measure) {
  RulerGeometry g;
  if (spec.length < 1 || spec.from == spec.to || !spec.mapping || !(spec.from > 0.0f) || !(a4Hz > 0.0)) return g;
  const float mappedFrom = spec.mapping(spec.from);
  const float mappedTo = spec.mapping(spec.to);
  const float fMin = std::min(mappedFrom, mappedTo);
  const float range = std::max(mappedFrom, mappedTo) - fMin;
  if (!(range > 0.0f) || !std::isfinite(range)) return g;

  const Frame f = frameOf(spec);
  g.drawn = true;
  setAlignment(spec, g);
  const auto endLabel = [&](float value) { return formatAxisNumber(value, f.endPrecision, true, spec.siPrefixes, false); };
  addEnds(spec, f, measure, g, endLabel(std::min(spec.from, spec.to)), endLabel(std::max(spec.from, spec.to)));

  const double low = std::min(spec.from, spec.to);
  const double high = std::max(spec.from, spec.to);
  NotePlaces notes;
  notes.first = static_cast<int>(std::ceil(notePosition(low, a4Hz) - 1e-6));
  const int last = static_cast<int>(std::floor(notePosition(high, a4Hz) + 1e-6));
  for (int note = notes.first; note <= last; ++note) {
    const auto hz = static_cast<float>(noteFrequency(note, a4Hz));
    const float fraction = (spec.mapping(hz) - fMin) / range;
    notes.positions.push_back(spec.start + static_cast<int>(std::trunc(fraction * static_cast<float>(spec.length) + 0.5f)));
    notes.names.push_back(noteName(note));
  }
  if (notes.positions.empty()) return g;

  const int step = noteLabelStep(spec, f, notes, measure);
  // Every semitone has its tick where they keep 3 pixels apart on average.
  const bool everySemitone =
      notes.positions.size() < 2 ||
      std::abs(notes.positions.back() - notes.positions.front()) >= 3 * static_cast<int>(notes.positions.size() - 1);
  const int longTip = spec.baseline + f.s * spec.tickLength;
  const int shortTip = spec.baseline + f.s * (spec.tickLength / 2);
  const int labelAcross = spec.baseline + f.s * (spec.tickLength + 3);
  const int endLimit = spec.start + spec.length - spec.margin;
  const int startLimit = spec.start + spec.margin;
  for (std::size_t i = 0; i < notes.positions.size(); ++i) {
    const int note = notes.first + static_cast<int>(i);
    const int pos = notes.positions[i];
    if (pos >= endLimit) break;
    if (pos < startLimit) continue;
    const bool labelled = step > 0 && note % step == 0;
    if (labelled || note % 12 == 0) {
      addTick(spec, g, pos, longTip);
    } else if (everySemitone) {
      addTick(spec, g, pos, shortTip);
    }
    if (!labelled) continue;
    if (f.endMark <= 0 || clearsEnds(spec, pos, halfAlong(spec, measure, notes.names[i])))
      addLabel(spec, g, pos, labelAcross, notes.names[i]);
  }
  return g;
}

QFont rulerFont() {
  // Fixed in pixels, so that measuring and painting agree on any surface.
  QFont font = dialogFont();
  font.setPixelSize(QFontInfo(font).pixelSize());
  return font;
}

void paintRuler(QPainter& painter, const RulerGeometry& geometry, const QFont& font, const QColor& colour) {
  if (!geometry.drawn) return;
  const QFont previousFont = painter.font();
  painter.setFont(font);
  painter.setPen(QPen(colour, 1, Qt::SolidLine, Qt::FlatCap));
  const bool antialiased = painter.testRenderHint(QPainter::Antialiasing);
  painter.setRenderHint(QPainter::Antialiasing, false);

  // Every ruler line runs straight across or along; the end point itself is
  // not painted, so a line covers exactly its length in pixels.
  for (const RulerLine& line : geometry.lines) {
    const int left = line.x2 < line.x1 ? line.x2 + 1 : line.x1;
    const int top = line.y2 < line.y1 ? line.y2 + 1 : line.y1;
    const int width = std::max(1, std::abs(line.x2 - line.x1));
    const int height = std::max(1, std::abs(line.y2 - line.y1));
    if (line.x1 == line.x2 && line.y1 == line.y2) continue;
    painter.fillRect(QRect(left, top, width, height), colour);
  }

  const QFontMetrics metrics(font, painter.device());
  for (const RulerText& text : geometry.texts) {
    const QString label = QString::fromStdString(text.text);
    const int width = metrics.horizontalAdvance(label);
    int x = text.x;
    if (geometry.hAlign == TextHAlign::Center) x -= width / 2;
    if (geometry.hAlign == TextHAlign::Right) x -= width;
    int y = text.y;
    if (geometry.vAlign == TextVAlign::Top) y += metrics.ascent();
    if (geometry.vAlign == TextVAlign::Bottom) y -= metrics.descent();
    painter.drawText(x, y, label);
  }

  painter.setRenderHint(QPainter::Antialiasing, antialiased);
  painter.setFont(previousFont);
}

TextMeasurer rulerMeasurer(const QFont& font, const QPaintDevice* device) {
  auto metrics = std::make_shared<QFontMetrics>(font, device);
  return [metrics](const std::string& text) {
    return TextExtent{metrics->horizontalAdvance(QString::fromStdString(text)), metrics->height()};
  };
}

void drawLinearRuler(const RulerSpec& spec, const QFont& font) {
  if (!spec.surface) return;
  paintRuler(*spec.surface, layoutLinearRuler(spec, rulerMeasurer(font, spec.surface->device())), font, spec.colour);
}

void drawLogRuler(const RulerSpec& spec, const QFont& font) {
  if (!spec.surface) return;
  paintRuler(*spec.surface, layoutLogRuler(spec, rulerMeasurer(font, spec.surface->device())), font, spec.colour);
}

void drawNoteRuler(const RulerSpec& spec, double a4Hz, const QFont& font) {
  if (!spec.surface) return;
  paintRuler(*spec.surface, layoutNoteRuler(spec, a4Hz, rulerMeasurer(font, spec.surface->device())), font,
             spec.colour);
}

}  // namespace vellomar
