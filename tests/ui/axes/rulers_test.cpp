// SPDX-License-Identifier: GPL-3.0-or-later
// Ruler geometry with a fixed text measurer (6 pixels per character, 13
// pixels high), tick spacing, tick lists, number formatting, and painting.
#include "ui/axes/rulers.h"

#include <QImage>
#include <QPainter>
#include <QtTest>
#include <cmath>
#include <string>
#include <vector>

using namespace vellomar;

namespace {

TextExtent fixedMeasure(const std::string& text) { return {6 * static_cast<int>(text.size()), 13}; }

float lnMapping(float f) { return static_cast<float>(std::log(static_cast<double>(f))); }
float melMapping(float f) { return static_cast<float>(std::log(static_cast<double>(f + 700.0f))); }

// The main window's linear frequency axis.
RulerSpec linearFrequencyAxis(int length) {
  RulerSpec s;
  s.vertical = false;
  s.ticksPositive = true;
  s.baseline = 2;
  s.start = 10;
  s.tickLength = 10;
  s.length = length;
  s.endRoom = 9;
  s.from = 0.0f;
  s.to = 22050.0f;
  s.minTickGap = 3;
  s.precision = 0;
  s.siPrefixes = true;
  s.endMarks = true;
  s.endPrecision = 2;
  return s;
}

// The main window's time axis.
RulerSpec timeAxis(float to, int decimals) {
  RulerSpec s;
  s.vertical = true;
  s.ticksPositive = false;
  s.baseline = 56;
  s.start = 5;
  s.tickLength = 10;
  s.length = 354;
  s.from = 0.0f;
  s.to = to;
  s.minTickGap = 4;
  s.precision = decimals;
  s.endPrecision = 0;
  return s;
}

RulerSpec logFrequencyAxis(bool mel) {
  RulerSpec s = linearFrequencyAxis(306);
  s.from = 16.0f;
  s.precision = 2;
  s.endPrecision = 4;
  s.mapping = mel ? melMapping : lnMapping;
  if (mel) s.tickFilter = [](float v) { return v >= 100.0f; };
  return s;
}

std::vector<std::string> textsOf(const RulerGeometry& g, std::size_t skip = 0) {
  std::vector<std::string> out;
  for (std::size_t i = skip; i < g.texts.size(); ++i) out.push_back(g.texts[i].text);
  return out;
}

// Number of tick lines of a given length (end marks included).
int linesOfLength(const RulerGeometry& g, int length) {
  int n = 0;
  for (const RulerLine& l : g.lines)
    if (std::abs(l.x2 - l.x1) + std::abs(l.y2 - l.y1) == length) ++n;
  return n;
}

// Along-positions of the lines of a horizontal ruler with a given length.
std::vector<int> positionsOfLength(const RulerGeometry& g, int length) {
  std::vector<int> out;
  for (const RulerLine& l : g.lines)
    if (std::abs(l.y2 - l.y1) == length && l.x1 == l.x2) out.push_back(l.x1);
  return out;
}

}  // namespace

class RulersTest : public QObject {
  Q_OBJECT

 private slots:
  void tickSpacingPicksTwoFiveOrTenTimesADecade() {
    const TickSpacing s = chooseTickSpacing(22050.0f / 306.0f, 3);
    QCOMPARE(s.major, 5000.0f);
    QCOMPARE(s.medium, 1000.0f);
    QCOMPARE(s.minor, 500.0f);

    const TickSpacing two = chooseTickSpacing(1.0f, 2);  // b exactly 2 takes 2 x decade
    QCOMPARE(two.minor, 2.0f);
    QCOMPARE(two.medium, 10.0f);
    QCOMPARE(two.major, 20.0f);
    const TickSpacing five = chooseTickSpacing(1.0f, 5);  // b exactly 5 takes 5 x decade
    QCOMPARE(five.minor, 5.0f);
    QCOMPARE(five.major, 50.0f);
    const TickSpacing ten = chooseTickSpacing(1.0f, 7);
    QCOMPARE(ten.minor, 10.0f);
    QCOMPARE(ten.medium, 50.0f);
    QCOMPARE(ten.major, 100.0f);
    const TickSpacing small = chooseTickSpacing(15.0f / 354.0f, 4);  // 15 s over 354 pixels
    QCOMPARE(small.major, 2.0f);
    QCOMPARE(small.medium, 1.0f);
    QVERIFY(std::fabs(small.minor - 0.2f) < 1e-6f);
  }

  void tickSpacingOfNothingIsZero() {
    QCOMPARE(chooseTickSpacing(0.0f, 3).minor, 0.0f);
    QCOMPARE(chooseTickSpacing(1.0f, 0).minor, 0.0f);
    QCOMPARE(chooseTickSpacing(-1.0f, 3).minor, 0.0f);
    QCOMPARE(chooseTickSpacing(INFINITY, 3).minor, 0.0f);
  }

  void formatsWithSiPrefixes() {
    QCOMPARE(formatAxisNumber(22050.0f, 2, false, true, false), std::string("22.05k"));
    QCOMPARE(formatAxisNumber(0.0005f, 1, false, true, false), std::string("500.0u"));
    QCOMPARE(formatAxisNumber(2.5e15f, 1, false, true, false), std::string("2500.0T"));
    QCOMPARE(formatAxisNumber(1e-14f, 1, false, true, false), std::string("0.0p"));
    QCOMPARE(formatAxisNumber(-2500.0f, 2, false, true, false), std::string("-2.50k"));
    QCOMPARE(formatAxisNumber(2500.0f, 1, false, false, false), std::string("2500.0"));
  }

  void formatsZero() {
    QCOMPARE(formatAxisNumber(0.0f, 3, false, true, true), std::string("0"));
    QCOMPARE(formatAxisNumber(-0.0f, 3, false, false, true), std::string("0"));
    QCOMPARE(formatAxisNumber(0.0f, 2, false, true, false), std::string("0.00"));
    // Significant digits of zero must not take the floor of -infinity.
    QCOMPARE(formatAxisNumber(0.0f, 2, true, true, false), std::string("0.0"));
  }

  void formatsSignificantDigits() {
    QCOMPARE(formatAxisNumber(100.0f, 2, true, true, false), std::string("100"));
    QCOMPARE(formatAxisNumber(1000.0f, 2, true, true, false), std::string("1.0k"));
    QCOMPARE(formatAxisNumber(10000.0f, 2, true, true, false), std::string("10k"));
    QCOMPARE(formatAxisNumber(16.0f, 4, true, true, false), std::string("16.00"));
    QCOMPARE(formatAxisNumber(22050.0f, 4, true, true, false), std::string("22.05k"));
    QCOMPARE(formatAxisNumber(0.02f, 2, true, false, false), std::string("0.020"));
  }

  void listsLogTicksInOrder() {
    float majors[kMaxLogMajors];
    float minors[kMaxLogMinors];
    const LogTickCounts c = listLogTicks(16.0f, 22050.0f, majors, kMaxLogMajors, minors, kMaxLogMinors, {});
    QCOMPARE(c.majors, 3);
    QCOMPARE(majors[0], 100.0f);
    QCOMPARE(majors[1], 1000.0f);
    QCOMPARE(majors[2], 10000.0f);
    QCOMPARE(c.minors, 25);
    QCOMPARE(minors[0], 20.0f);
    QCOMPARE(minors[7], 90.0f);
    QCOMPARE(minors[8], 200.0f);
    QCOMPARE(minors[23], 9000.0f);
    QCOMPARE(minors[24], 20000.0f);

    const LogTickCounts mel = listLogTicks(16.0f, 22050.0f, majors, kMaxLogMajors, minors, kMaxLogMinors,
                                           [](float v) { return v >= 100.0f; });
    QCOMPARE(mel.majors, 3);
    QCOMPARE(mel.minors, 17);
    QCOMPARE(minors[0], 200.0f);
  }

  void logTickListsStopAtTheirCapacity() {
    float majors[kMaxLogMajors + 5];
    float minors[kMaxLogMinors + 5];
    majors[kMaxLogMajors] = -1.0f;
    minors[kMaxLogMinors] = -1.0f;
    const LogTickCounts c = listLogTicks(1e-20f, 1e20f, majors, kMaxLogMajors, minors, kMaxLogMinors, {});
    QCOMPARE(c.majors, kMaxLogMajors);
    QCOMPARE(c.minors, kMaxLogMinors);
    QCOMPARE(majors[kMaxLogMajors], -1.0f);  // nothing written past the capacity
    QCOMPARE(minors[kMaxLogMinors], -1.0f);
    for (int i = 1; i < c.majors; ++i) QVERIFY(majors[i] > majors[i - 1]);
    for (int i = 1; i < c.minors; ++i) QVERIFY(minors[i] > minors[i - 1]);

    const LogTickCounts two = listLogTicks(16.0f, 22050.0f, majors, 2, minors, 3, {});
    QCOMPARE(two.majors, 2);
    QCOMPARE(two.minors, 3);
    QCOMPARE(majors[1], 1000.0f);
    QCOMPARE(minors[2], 40.0f);
  }

  void logTickListsOfEmptyOrBadRanges() {
    float majors[kMaxLogMajors];
    float minors[kMaxLogMinors];
    LogTickCounts c = listLogTicks(16.0f, 19.0f, majors, kMaxLogMajors, minors, kMaxLogMinors, {});
    QCOMPARE(c.majors + c.minors, 0);
    c = listLogTicks(0.0f, 1000.0f, majors, kMaxLogMajors, minors, kMaxLogMinors, {});
    QCOMPARE(c.majors + c.minors, 0);
    c = listLogTicks(-5.0f, 1000.0f, majors, kMaxLogMajors, minors, kMaxLogMinors, {});
    QCOMPARE(c.majors + c.minors, 0);
    c = listLogTicks(16.0f, INFINITY, majors, kMaxLogMajors, minors, kMaxLogMinors, {});
    QCOMPARE(c.majors + c.minors, 0);
  }

  void linearFrequencyAxisOf306Pixels() {
    const RulerGeometry g = layoutLinearRuler(linearFrequencyAxis(306), fixedMeasure);
    QVERIFY(g.drawn);
    QCOMPARE(g.hAlign, TextHAlign::Center);
    QCOMPARE(g.vAlign, TextVAlign::Top);
    QCOMPARE(textsOf(g), (std::vector<std::string>{"0", "22.05k", "5k", "10k", "15k", "20k"}));
    // End labels: "0" centred on the start; "22.05k" (36 pixels) pulled back
    // so that it reaches exactly 9 pixels beyond the end at 316.
    QCOMPARE(g.texts[0], (RulerText{10, 28, "0"}));
    QCOMPARE(g.texts[1], (RulerText{307, 28, "22.05k"}));
    QCOMPARE(g.texts[1].x + 36 / 2, 316 + 9);
    // 5000 Hz lies 69.4 pixels along.
    QCOMPARE(g.texts[2], (RulerText{79, 15, "5k"}));
    // End marks 23 long at both ends; ticks every 500 Hz from 0 to 22000.
    QVERIFY(std::find(g.lines.begin(), g.lines.end(), RulerLine{10, 2, 10, 25}) != g.lines.end());
    QVERIFY(std::find(g.lines.begin(), g.lines.end(), RulerLine{316, 2, 316, 25}) != g.lines.end());
    QCOMPARE(linesOfLength(g, 23), 2);
    QCOMPARE(linesOfLength(g, 10), 5);  // 0, 5k, 10k, 15k, 20k
    QCOMPARE(linesOfLength(g, 6), 18);  // other thousands up to 22k
    QCOMPARE(linesOfLength(g, 3), 22);  // odd multiples of 500
    QCOMPARE(positionsOfLength(g, 10).front(), 10);
    QCOMPARE(positionsOfLength(g, 3).back(), 10 + 298);  // 21500 Hz is 298.4 pixels along
  }

  void linearFrequencyAxisOf100Pixels() {
    // 20 kHz lies at 101, 7 pixels before the end mark at 110: its label
    // must be narrower than 14 pixels to keep 2 pixels clear of it.
    const auto narrow = [](const std::string& text) { return TextExtent{4 * static_cast<int>(text.size()), 11}; };
    const RulerGeometry g = layoutLinearRuler(linearFrequencyAxis(100), narrow);
    QCOMPARE(textsOf(g, 2), (std::vector<std::string>{"10k", "20k"}));
    QCOMPARE(g.texts[3].x, 10 + 91);
    QCOMPARE(textsOf(layoutLinearRuler(linearFrequencyAxis(100), fixedMeasure), 2), (std::vector<std::string>{"10k"}));
    QCOMPARE(linesOfLength(g, 10), 3);  // 0, 10k, 20k
    QCOMPARE(linesOfLength(g, 6), 2);   // 5k, 15k
    QCOMPARE(linesOfLength(g, 3), 17);  // the other thousands; 22 kHz falls on the end
  }

  void timeAxisFor15Seconds() {
    const RulerGeometry g = layoutLinearRuler(timeAxis(15.0f, 0), fixedMeasure);
    QCOMPARE(g.hAlign, TextHAlign::Right);
    QCOMPARE(g.vAlign, TextVAlign::Baseline);
    QCOMPARE(textsOf(g), (std::vector<std::string>{"0", "2", "4", "6", "8", "10", "12", "14"}));
    QCOMPARE(g.texts[0], (RulerText{56 - 13, 5 + 4, "0"}));
    QCOMPARE(g.texts[1], (RulerText{43, 5 + 47 + 4, "2"}));  // 2 s = 47.2 pixels
    // Ticks grow to the left of the baseline: 0.2 s apart, none at 15 s.
    QCOMPARE(g.lines.size(), std::size_t(75));
    QCOMPARE(g.lines.front(), (RulerLine{56, 5, 46, 5}));
    for (const RulerLine& l : g.lines) QVERIFY(l.y1 < 5 + 354);
    int medium = 0;
    for (const RulerLine& l : g.lines) medium += (l.x2 == 56 - 6);
    QCOMPARE(medium, 7);  // the odd seconds
  }

  void timeAxisDecimalsFollowTheDuration() {
    QCOMPARE(textsOf(layoutLinearRuler(timeAxis(2.0f, 1), fixedMeasure)),
             (std::vector<std::string>{"0", "0.5", "1.0", "1.5"}));
    QCOMPARE(textsOf(layoutLinearRuler(timeAxis(0.02f, 3), fixedMeasure)),
             (std::vector<std::string>{"0", "0.005", "0.010", "0.015"}));
    QCOMPARE(textsOf(layoutLinearRuler(timeAxis(10.0f, 0), fixedMeasure)),  // 600 s in minutes
             (std::vector<std::string>{"0", "2", "4", "6", "8"}));
  }

  // A ruler over part of a band marks only the end that is the band's: its
  // label stands there, and tick labels may come close to the other end.
  void oneEndMarkedAlone() {
    RulerSpec s = linearFrequencyAxis(300);
    const RulerGeometry both = layoutLinearRuler(s, fixedMeasure);
    s.startMarked = false;
    const RulerGeometry high = layoutLinearRuler(s, fixedMeasure);
    const auto longLines = [](const RulerGeometry& g) {
      std::vector<int> at;
      for (const RulerLine& l : g.lines)
        if (l.y2 == 2 + 23) at.push_back(l.x1);
      return at;
    };
    QCOMPARE(longLines(both), (std::vector<int>{10, 310}));
    QCOMPARE(longLines(high), (std::vector<int>{310}));
    const auto endTexts = [](const RulerGeometry& g) {
      std::vector<std::string> out;
      for (const RulerText& t : g.texts)
        if (t.y == 2 + 26) out.push_back(t.text);
      return out;
    };
    QCOMPARE(endTexts(both), (std::vector<std::string>{"0", "22.05k"}));
    QCOMPARE(endTexts(high), (std::vector<std::string>{"22.05k"}));
    s.startMarked = true;
    s.endMarked = false;
    QCOMPARE(endTexts(layoutLinearRuler(s, fixedMeasure)), (std::vector<std::string>{"0"}));
  }

  void unlabelledRulerWithEndMarks() {
    RulerSpec s = timeAxis(50.0f, 0);
    s.endMarks = true;
    s.noNumbers = true;
    const RulerGeometry g = layoutLinearRuler(s, fixedMeasure);
    QCOMPARE(g.texts.size(), std::size_t(2));
    QCOMPARE(g.texts[0], (RulerText{56 - 26, 5 + 4, "0"}));
    QCOMPARE(g.texts[1], (RulerText{56 - 26, 5 + 354 + 4, "?"}));
    QCOMPARE(g.lines[0], (RulerLine{56, 5, 33, 5}));
    QCOMPARE(g.lines[1], (RulerLine{56, 359, 33, 359}));
    QCOMPARE(linesOfLength(g, 23), 2);
    QCOMPARE(linesOfLength(g, 10), 5);  // 0, 10, 20, 30, 40
    QCOMPARE(linesOfLength(g, 6), 5);   // 5, 15, 25, 35, 45
    QCOMPARE(linesOfLength(g, 3), 40);
  }

  void endLabelsOfAVerticalRulerAreNotPulledBack() {
    RulerSpec s = timeAxis(15.0f, 0);
    s.endMarks = true;
    s.endRoom = 0;
    const RulerGeometry g = layoutLinearRuler(s, fixedMeasure);
    QCOMPARE(g.texts[0], (RulerText{30, 9, "0"}));
    QCOMPARE(g.texts[1], (RulerText{30, 363, "15"}));
    // With end marks, a label must clear the ends: "0" at the start is dropped.
    QCOMPARE(textsOf(g, 2), (std::vector<std::string>{"2", "4", "6", "8", "10", "12", "14"}));
  }

  void marginKeepsTicksAwayFromTheEnds() {
    RulerSpec s = linearFrequencyAxis(306);
    s.margin = 20;
    const RulerGeometry g = layoutLinearRuler(s, fixedMeasure);
    for (const RulerLine& l : g.lines) {
      if (std::abs(l.y2 - l.y1) == 23) continue;  // end marks
      QVERIFY(l.x1 >= 10 + 20);
      QVERIFY(l.x1 < 10 + 306 - 20);
    }
  }

  void degenerateRulersDrawNothing() {
    RulerSpec s = linearFrequencyAxis(306);
    s.to = s.from;
    QVERIFY(!layoutLinearRuler(s, fixedMeasure).drawn);
    QVERIFY(!layoutLogRuler(s, fixedMeasure).drawn);
    s = linearFrequencyAxis(0);
    QVERIFY(!layoutLinearRuler(s, fixedMeasure).drawn);
    s = logFrequencyAxis(false);
    s.length = 0;
    QVERIFY(!layoutLogRuler(s, fixedMeasure).drawn);
  }

  void stepsLostInRoundingEndTheTicks() {
    // 0.05 is below the float spacing at ten million: the loop must stop.
    RulerSpec s = timeAxis(1.0e7f + 1.0f, 0);
    s.from = 1.0e7f;
    const RulerGeometry g = layoutLinearRuler(s, fixedMeasure);
    QVERIFY(g.lines.size() <= 1);
  }

  void logarithmicFrequencyAxis() {
    const RulerGeometry g = layoutLogRuler(logFrequencyAxis(false), fixedMeasure);
    QVERIFY(g.drawn);
    QCOMPARE(textsOf(g), (std::vector<std::string>{"16.00", "22.05k", "100", "1.0k", "10k"}));
    // "16.00" is 30 pixels wide: pulled 6 pixels into the ruler.
    QCOMPARE(g.texts[0], (RulerText{16, 28, "16.00"}));
    QCOMPARE(g.texts[3], (RulerText{185, 15, "1.0k"}));
    QCOMPARE(linesOfLength(g, 23), 2);
    QCOMPARE(linesOfLength(g, 10), 3);
    QCOMPARE(linesOfLength(g, 5), 25);
    QCOMPARE(positionsOfLength(g, 5).front(), 10 + 9);  // 20 Hz is 9.45 pixels along
  }

  void melFrequencyAxisHasNoMinorsBelow100Hz() {
    const RulerGeometry g = layoutLogRuler(logFrequencyAxis(true), fixedMeasure);
    // On the Mel scale 100 Hz lies only 10 pixels along: its label would
    // run into the start mark and is left out.
    QCOMPARE(textsOf(g), (std::vector<std::string>{"16.00", "22.05k", "1.0k", "10k"}));
    QCOMPARE(g.texts[2], (RulerText{87, 15, "1.0k"}));
    QCOMPARE(linesOfLength(g, 10), 3);
    QCOMPARE(linesOfLength(g, 5), 17);
    const std::vector<int> majors = positionsOfLength(g, 10);
    for (int pos : positionsOfLength(g, 5)) QVERIFY(pos > majors.front());
  }

  void minorLabelsKeepTheirGap() {
    RulerSpec s;
    s.ticksPositive = true;
    s.baseline = 0;
    s.start = 0;
    s.tickLength = 10;
    s.length = 900;
    s.from = 10.0f;
    s.to = 100.0f;
    s.precision = 2;
    s.mapping = lnMapping;
    s.minorLabelGap = 60;
    // Minors at 271, 429, 542, 629, 700, 761, 813, 859; majors at 0 and 900.
    const RulerGeometry g = layoutLogRuler(s, fixedMeasure);
    QCOMPARE(textsOf(g), (std::vector<std::string>{"10", "2", "3", "4", "5", "6"}));
    QCOMPARE(g.texts[1], (RulerText{271, 8, "2"}));
    QCOMPARE(g.texts[5], (RulerText{700, 8, "6"}));
    s.minorLabelGap = 0;
    QCOMPARE(textsOf(layoutLogRuler(s, fixedMeasure)), (std::vector<std::string>{"10"}));
  }

  void paintsTicksAndRestoresTheFont() {
    QImage image(340, 50, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    QFont before("Serif", 20);
    painter.setFont(before);
    RulerSpec s = linearFrequencyAxis(306);
    s.surface = &painter;
    s.colour = QColor(200, 0, 0);
    drawLinearRuler(s);
    QCOMPARE(painter.font(), before);
    QCOMPARE(painter.pen().color(), QColor(200, 0, 0));
    painter.end();
    // The major tick at 5000 Hz (x = 79) covers y = 2 ... 11, not 12.
    QCOMPARE(image.pixelColor(79, 2), QColor(200, 0, 0));
    QCOMPARE(image.pixelColor(79, 11), QColor(200, 0, 0));
    QCOMPARE(image.pixelColor(79, 12), QColor(Qt::white));
    // Between ticks nothing is drawn, and no line runs along the ruler.
    QCOMPARE(image.pixelColor(81, 2), QColor(Qt::white));
    bool labelInk = false;
    for (int y = 15; y < 30 && !labelInk; ++y)
      for (int x = 70; x < 90; ++x) labelInk |= image.pixelColor(x, y) != QColor(Qt::white);
    QVERIFY(labelInk);
  }

  void aRulerThatDrawsNothingLeavesThePainterAlone() {
    QImage image(40, 40, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    painter.setPen(Qt::blue);
    RulerSpec s = linearFrequencyAxis(306);
    s.to = s.from;
    s.surface = &painter;
    s.colour = Qt::red;
    drawLinearRuler(s);
    QCOMPARE(painter.pen().color(), QColor(Qt::blue));
  }
};

QTEST_MAIN(RulersTest)
#include "rulers_test.moc"
