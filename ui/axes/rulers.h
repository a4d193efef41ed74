// SPDX-License-Identifier: GPL-3.0-or-later
// The ruler machinery: labelled linear and logarithmic scales drawn into an
// off-screen image. Used by the main window's axes and by the frequency
// scale template window.
//
// The geometry of a ruler (which lines, which texts, where and how aligned)
// is computed by layoutLinearRuler / layoutLogRuler from the RulerSpec and a
// text measurer alone; drawLinearRuler / drawLogRuler lay out with the
// painter's font and paint the result.
#pragma once

#include <QColor>
#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include <QFont>

class QPaintDevice;
class QPainter;

namespace vellomar {

// Description of one ruler. Pixel quantities are in the coordinates of the
// surface; "along" is the direction in which values grow (down for a
// vertical ruler, right for a horizontal one), "across" the other one.
struct RulerSpec {
  QPainter* surface = nullptr;  // where drawLinearRuler / drawLogRuler paint
  QColor colour = Qt::black;    // every line and every text
  bool vertical = false;        // values run along y
  bool ticksPositive = true;    // ticks grow toward larger across-coordinates
  int baseline = 0;             // across-coordinate where ticks and end marks start
  int start = 0;                // along-coordinate of `from`
  int tickLength = 0;           // longest ticks (the labelled ones)
  int length = 0;               // along-distance from `from` to `to`
  int margin = 0;               // no tick within this distance of either end
  int endRoom = 0;              // how far an end label may reach beyond the ends (horizontal)
  float from = 0.0f;
  float to = 0.0f;
  int minTickGap = 0;                   // linear: least pixel distance between ticks
  int precision = 0;                    // linear: decimals; logarithmic: significant digits
  std::function<float(float)> mapping;  // logarithmic: the scale function
  bool siPrefixes = false;
  bool endMarks = false;
  bool startMarked = true;                // with endMarks: whether the `from` end has its mark and label
  bool endMarked = true;                  // the same for the `to` end
  int endPrecision = -1;                  // < 0: same as precision
  std::function<bool(float)> tickFilter;  // logarithmic: which minor ticks stay; empty = all
  bool noNumbers = false;                 // no tick labels; end labels "0" (value 0) or "?"
  int minorLabelGap = 0;                  // logarithmic: 0 = minors unlabelled, else least gap to neighbours
};

struct TickSpacing {
  float major = 0.0f;
  float medium = 0.0f;
  float minor = 0.0f;
};

// Spacing whose minor step is the smallest of 2, 5 or 10 times a power of
// ten spanning at least minTickGap pixels. A valuePerPixel that is not a
// positive finite number gives all zeros.
TickSpacing chooseTickSpacing(float valuePerPixel, int minTickGap);

struct LogTickCounts {
  int majors = 0;
  int minors = 0;
};

// Powers of ten (into `majors`) and 2..9 times a power of ten (into
// `minors`, when the filter accepts them) between `from` and `to`, in
// ascending order; entries beyond a list's capacity are dropped. A `from`
// that is not positive, or bounds that are not finite, give empty lists.
LogTickCounts listLogTicks(float from, float to, float* majors, int majorCapacity, float* minors, int minorCapacity,
                           const std::function<bool(float)>& tickFilter);

// Label text of a value: "%.*f" plus an SI prefix from "p" to "T" when
// siPrefixes is set; with significantDigits, `precision` counts significant
// digits instead of decimals; zeroAsZero makes an exact zero read "0".
std::string formatAxisNumber(float value, int precision, bool significantDigits, bool siPrefixes, bool zeroAsZero);

// Capacities of the tick lists of a logarithmic ruler.
inline constexpr int kMaxLogMajors = 30;
inline constexpr int kMaxLogMinors = 70;

// ---- Geometry ----

struct TextExtent {
  int width = 0;
  int height = 0;
};
using TextMeasurer = std::function<TextExtent(const std::string&)>;

enum class TextHAlign { Left, Center, Right };
enum class TextVAlign { Top, Baseline, Bottom };

// A line from (x1, y1) toward (x2, y2); the end point itself is not painted.
struct RulerLine {
  int x1 = 0, y1 = 0, x2 = 0, y2 = 0;
  bool operator==(const RulerLine&) const = default;
};

// A text whose anchor point is (x, y) under the ruler's alignment.
struct RulerText {
  int x = 0, y = 0;
  std::string text;
  bool operator==(const RulerText&) const = default;
};

struct RulerGeometry {
  bool drawn = false;  // false: the ruler draws nothing and touches no drawing state
  TextHAlign hAlign = TextHAlign::Center;
  TextVAlign vAlign = TextVAlign::Top;
  std::vector<RulerLine> lines;
  std::vector<RulerText> texts;
};

RulerGeometry layoutLinearRuler(const RulerSpec& spec, const TextMeasurer& measure);
RulerGeometry layoutLogRuler(const RulerSpec& spec, const TextMeasurer& measure);

// Notes instead of numbers on a logarithmic ruler (spec.mapping places
// them as it places frequencies): a tick at every semitone of the
// equal-tempered scale tuned to A4 = a4Hz from `from` to `to` where they
// lie 3 pixels apart or more, and labels ("C4", "C#4", ...) on every
// step-th note counted from C, the least step of 1, 2, 3, 4, 6, 12, 24,
// 36 ... semitones whose labels keep kNoteLabelGap pixels apart; labelled
// notes have the long ticks. End marks and end labels as the logarithmic
// ruler's, in hertz.
inline constexpr int kNoteLabelGap = 4;
RulerGeometry layoutNoteRuler(const RulerSpec& spec, double a4Hz, const TextMeasurer& measure);

// ---- Painting ----

// The font every ruler and axis title uses: the dialog font.
QFont rulerFont();

// Paints a laid-out ruler with `font` in `colour`. Afterwards the painter's
// font is the one it had before, and its pen is a solid 1-pixel pen in
// `colour` (the colour a caller's title is drawn in). A geometry that is not
// drawn leaves the painter untouched.
void paintRuler(QPainter& painter, const RulerGeometry& geometry, const QFont& font, const QColor& colour);

// Measures texts in `font` as they come out on `device` (at its pixel
// density); without a device, as on the screen.
TextMeasurer rulerMeasurer(const QFont& font, const QPaintDevice* device);

// Lay out with `font` measured on spec.surface and paint there.
void drawLinearRuler(const RulerSpec& spec, const QFont& font = rulerFont());
void drawLogRuler(const RulerSpec& spec, const QFont& font = rulerFont());
void drawNoteRuler(const RulerSpec& spec, double a4Hz, const QFont& font = rulerFont());

}  // namespace vellomar
