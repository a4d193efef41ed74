// SPDX-License-Identifier: GPL-3.0-or-later
// The preview's axes: strip placement around the frame, the rulers chosen
// for durations and scales, and the strips drawn for the defaults.
#include "ui/axes/axes.h"

#include <QFontMetrics>
#include <QLabel>
#include <QtTest>
#include <algorithm>
#include <memory>

#include "engine/settings.h"
#include "ui/main_window/main_window.h"
#include "ui/axes/preview_frame.h"

using namespace vellomar;

namespace {

TextMeasurer realMeasurer() {
  auto metrics = std::make_shared<QFontMetrics>(rulerFont());
  return [metrics](const std::string& text) {
    return TextExtent{metrics->horizontalAdvance(QString::fromStdString(text)), metrics->height()};
  };
}

std::vector<std::string> texts(const RulerGeometry& g) {
  std::vector<std::string> out;
  for (const RulerText& t : g.texts) out.push_back(t.text);
  return out;
}

bool hasInk(const QImage& image, const QRect& area, const QColor& background) {
  for (int y = area.top(); y <= area.bottom(); ++y)
    for (int x = area.left(); x <= area.right(); ++x)
      if (image.pixelColor(x, y) != background) return true;
  return false;
}

void resetSettings() {
  renderSettings = RenderSettings();
  inputWaveDuration = 0.0f;
}

}  // namespace

class AxesTest : public QObject {
  Q_OBJECT

 private slots:
  void init() { resetSettings(); }
  void cleanup() { resetSettings(); }

  void stripsSurroundTheFrame() {
    const AxesLayout layout = axesLayout(QRect(300, 10, 359, 357));  // L 300, T 10, R 659, B 367
    QCOMPARE(layout.timeStrip, QRect(240, 6, 58, 365));
    QCOMPARE(layout.frequencyStrip, QRect(291, 369, 377, 46));
    QCOMPARE(layout.interiorWidth, 357);
    QCOMPARE(layout.interiorHeight, 355);
  }

  void timeStripGrowsForWideLabels() {
    // Labels are right-aligned on the label line (x = 43 with a 58-pixel
    // strip); the title takes x = 2 ... 2 + its height, then 3 pixels free.
    const TextMeasurer fiveEach = [](const std::string& text) {
      return TextExtent{5 * static_cast<int>(text.size()), 12};
    };
    struct Case {
      std::vector<std::string> labels;
      int titleHeight;
      int growth;
    };
    const Case cases[] = {
        {{"0", "2", "14"}, 13, 0},          // 43 - 10 = 33 >= 18
        {{"0", "0.005", "0.010"}, 13, 0},   // 43 - 25 = 18: just clear
        {{"0", "0.005", "0.0100"}, 13, 5},  // 43 - 30 = 13
        {{"0", "10000", "16000"}, 16, 3},   // 43 - 25 = 18 < 21
        {{}, 13, 0},
    };
    for (const Case& c : cases) {
      RulerGeometry ruler;
      ruler.hAlign = TextHAlign::Right;
      int y = 9;
      for (const std::string& label : c.labels) ruler.texts.push_back({43, y += 40, label});
      QCOMPARE(timeStripGrowth(ruler, fiveEach, c.titleHeight), c.growth);
    }
    // Left- and centre-aligned texts count from where they start.
    RulerGeometry centred;
    centred.hAlign = TextHAlign::Center;
    centred.texts.push_back({20, 0, "00"});  // 15 ... 25
    QCOMPARE(timeStripGrowth(centred, fiveEach, 13), 3);

    // The strip grows to the left; its right edge stays by the frame.
    const AxesLayout wide = axesLayout(QRect(300, 10, 359, 357), 7);
    QCOMPARE(wide.timeStrip, QRect(233, 6, 65, 365));
    QCOMPARE(wide.frequencyStrip, axesLayout(QRect(300, 10, 359, 357)).frequencyStrip);
  }

  void wideTimeLabelsKeepClearOfTheTitle() {
    const QFontMetrics metrics(rulerFont());
    const QColor background(Qt::white);
    for (const float duration : {0.02f, 15.0f, 1000000.0f}) {
      const QImage image = drawTimeAxis(duration, 354, background, Qt::black);
      const RulerGeometry ruler = layoutLinearRuler(timeAxisSpec(duration, 354), realMeasurer());
      const int growth = image.width() - kTimeStripWidth;
      QCOMPARE(growth, timeStripGrowth(ruler, realMeasurer(), metrics.height()));
      // The labels, shifted with the ruler, start right of the title.
      for (const RulerText& text : ruler.texts) {
        const int left = growth + text.x - metrics.horizontalAdvance(QString::fromStdString(text.text));
        QVERIFY2(left >= 2 + metrics.height() + 3, text.text.c_str());
      }
      // No ink between the title and the labels: a clear band of columns.
      const int clearFrom = 2 + metrics.height() + 1;
      QVERIFY(!hasInk(image, QRect(clearFrom, 0, 1, image.height()), background));
      // The ticks stay at the strip's right edge, by the frame.
      QVERIFY(hasInk(image, QRect(image.width() - 12, 5, 10, 1), background));
    }
    QCOMPARE(drawTimeAxis(15.0f, 354, background, Qt::black).width(), kTimeStripWidth);
    QVERIFY(drawTimeAxis(1000000.0f, 354, background, Qt::black).width() > kTimeStripWidth);
  }

  void axesAreDrawnAtTheScreensPixelRatio() {
    const QColor background(Qt::white);
    const QImage time1 = drawTimeAxis(2.0f, 354, background, Qt::black, 1.0);
    const QImage time2 = drawTimeAxis(2.0f, 354, background, Qt::black, 2.0);
    QCOMPARE(time2.devicePixelRatio(), 2.0);
    QCOMPARE(time2.size(), time1.size() * 2);
    QCOMPARE(time2.deviceIndependentSize(), QSizeF(time1.size()));
    const QImage freq1 = drawFrequencyAxis(FrequencyScale::Mel, 44100, 300, background, Qt::black, 1.0);
    const QImage freq2 = drawFrequencyAxis(FrequencyScale::Mel, 44100, 300, background, Qt::black, 2.0);
    QCOMPARE(freq2.devicePixelRatio(), 2.0);
    QCOMPARE(freq2.size(), QSize(320 * 2, 46 * 2));
    // Drawn at the finer grid, not blown up: the labels' glyphs have
    // detail that doubling every pixel of the plain drawing cannot give.
    QVERIFY(freq2 != freq1.scaled(freq1.size() * 2));
    QVERIFY(time2 != time1.scaled(time1.size() * 2));
    // The same layout: a tick of the plain drawing is a 2 x 2 block there.
    for (int y = 2; y < 12; ++y) {
      QCOMPARE(freq2.pixelColor(2 * 10, 2 * y) != background, freq1.pixelColor(10, y) != background);
      QCOMPARE(freq2.pixelColor(2 * 10 + 1, 2 * y + 1) != background, freq1.pixelColor(10, y) != background);
    }
  }

  void melTicksStartAt100Hz() {
    QVERIFY(!keepMelMinorTick(90.0f));
    QVERIFY(!keepMelMinorTick(99.99f));
    QVERIFY(keepMelMinorTick(100.0f));
    QVERIFY(keepMelMinorTick(200.0f));
  }

  void timeAxisForDurations() {
    RulerSpec s = timeAxisSpec(15.0f, 354);
    QCOMPARE(s.to, 15.0f);
    QCOMPARE(s.precision, 0);
    QVERIFY(s.vertical && !s.ticksPositive && !s.endMarks && !s.noNumbers);
    QCOMPARE(s.baseline, 56);
    QCOMPARE(s.start, 5);
    QCOMPARE(s.length, 354);
    QCOMPARE(s.minTickGap, 4);
    QCOMPARE(timeAxisTitle(15.0f), QString("Time (seconds)"));

    QCOMPARE(timeAxisSpec(2.0f, 354).precision, 1);
    QCOMPARE(timeAxisSpec(0.02f, 354).precision, 3);
    QCOMPARE(timeAxisSpec(9.9f, 354).precision, 1);
    QCOMPARE(timeAxisSpec(10.0f, 354).precision, 0);

    s = timeAxisSpec(600.0f, 354);  // minutes from 300 s on
    QCOMPARE(s.to, 10.0f);
    QCOMPARE(s.precision, 0);
    QCOMPARE(timeAxisTitle(600.0f), QString("Time (minutes)"));
    QCOMPARE(timeAxisTitle(300.0f), QString("Time (minutes)"));
    QCOMPARE(timeAxisSpec(300.0f, 354).to, 5.0f);
    QCOMPARE(timeAxisTitle(299.0f), QString("Time (seconds)"));
    QCOMPARE(timeAxisSpec(299.0f, 354).to, 299.0f);

    s = timeAxisSpec(0.0f, 354);  // a wave source without a usable file
    QCOMPARE(s.to, 50.0f);
    QVERIFY(s.endMarks && s.noNumbers);
    QCOMPARE(timeAxisTitle(0.0f), QString("Time"));
    const RulerGeometry g = layoutLinearRuler(s, realMeasurer());
    QCOMPARE(texts(g), (std::vector<std::string>{"0", "?"}));
  }

  void durationComesFromTheSource() {
    RenderSettings settings;
    settings.durationSeconds = 12.0f;
    QCOMPARE(axisDuration(settings, 3.0f), 12.0f);
    settings.inputSource = InputSource::WhiteNoise;
    QCOMPARE(axisDuration(settings, 3.0f), 12.0f);
    settings.inputSource = InputSource::WaveFile;
    QCOMPARE(axisDuration(settings, 3.0f), 3.0f);
    QCOMPARE(axisDuration(settings, 0.0f), 0.0f);
  }

  void frequencyAxisForScales() {
    FrequencyAxis linear = frequencyAxisSpec(FrequencyScale::Linear, 44100, 306);
    QVERIFY(!linear.logarithmic);
    QCOMPARE(linear.spec.from, 0.0f);
    QCOMPARE(linear.spec.to, 22050.0f);
    QCOMPARE(linear.spec.minTickGap, 3);
    QCOMPARE(linear.spec.endPrecision, 2);
    QCOMPARE(linear.spec.endRoom, 9);
    QVERIFY(linear.spec.siPrefixes && linear.spec.endMarks && !linear.spec.vertical && linear.spec.ticksPositive);

    FrequencyAxis log = frequencyAxisSpec(FrequencyScale::Logarithmic, 44100, 306);
    QVERIFY(log.logarithmic);
    QCOMPARE(log.spec.from, 16.0f);
    QCOMPARE(log.spec.precision, 2);
    QCOMPARE(log.spec.endPrecision, 4);
    QVERIFY(!log.spec.tickFilter);
    QCOMPARE(log.spec.mapping(1000.0f), static_cast<float>(std::log(1000.0)));

    FrequencyAxis mel = frequencyAxisSpec(FrequencyScale::Mel, 44100, 306);
    QVERIFY(mel.logarithmic);
    QVERIFY(mel.spec.tickFilter);
    QVERIFY(!mel.spec.tickFilter(50.0f));
    QCOMPARE(mel.spec.mapping(300.0f), static_cast<float>(std::log(1000.0)));
    QCOMPARE(frequencyAxisSpec(FrequencyScale::Mel, 48000, 306).spec.to, 24000.0f);
  }

  // A chosen band: the ruler runs from the band's low end to its high end,
  // on the scale's warp; a narrow linear band labels its ticks with the
  // decimals that tell them apart.
  void frequencyAxisForABand() {
    struct Case {
      FrequencyScale scale;
      float low, high;
      int width;
      std::vector<std::string> labels;  // end labels first, then the ticks' labels
      std::vector<std::pair<float, int>> ticks;  // frequency and its x in the strip: 10 + trunc(fraction * width + 0.5)
    };
    const Case cases[] = {
        {FrequencyScale::Linear, 5000.0f, 15000.0f, 306,
         {"5.00k", "15.00k", "6k", "7k", "8k", "9k", "10k", "11k", "12k", "13k", "14k"},
         {{5000.0f, 10}, {6000.0f, 41}, {10000.0f, 163}, {14500.0f, 301}}},
        // Labels every 20 Hz ("2.02k") would run into each other: every 50 Hz.
        {FrequencyScale::Linear, 2000.0f, 2200.0f, 306,
         {"2.00k", "2.20k", "2.05k", "2.10k", "2.15k"},
         {{2020.0f, 41}, {2100.0f, 163}}},
        {FrequencyScale::Linear, 0.0f, 1000.0f, 300,
         {"0", "1.00k", "100", "200", "300", "400", "500", "600", "700", "800", "900"},
         {{0.0f, 10}, {500.0f, 160}}},
        {FrequencyScale::Logarithmic, 100.0f, 10000.0f, 300, {"100.0", "10.00k", "1.0k"}, {{1000.0f, 160}}},
        {FrequencyScale::Mel, 5000.0f, 15000.0f, 300, {"5.000k", "15.00k", "10k"}, {{10000.0f, 196}}},
    };
    for (const Case& c : cases) {
      RenderSettings settings;
      settings.frequencyScale = c.scale;
      settings.bandLowHz = c.low;
      settings.bandHighHz = c.high;
      const FrequencyAxis axis = frequencyAxisSpec(settings, c.width, realMeasurer());
      QCOMPARE(axis.logarithmic, c.scale != FrequencyScale::Linear);
      QCOMPARE(axis.spec.from, c.low == 0.0f && c.scale != FrequencyScale::Linear ? 16.0f : c.low);
      QCOMPARE(axis.spec.to, c.high);
      QCOMPARE(axis.spec.length, c.width);
      const RulerGeometry g = axis.logarithmic ? layoutLogRuler(axis.spec, realMeasurer())
                                               : layoutLinearRuler(axis.spec, realMeasurer());
      QCOMPARE(texts(g), c.labels);
      // The tick labels keep apart.
      const TextMeasurer measure = realMeasurer();
      for (std::size_t i = 3; i < g.texts.size(); ++i) {
        const int gap = (g.texts[i].x - measure(g.texts[i].text).width / 2) -
                        (g.texts[i - 1].x + measure(g.texts[i - 1].text).width / 2);
        QVERIFY2(gap >= 3, g.texts[i].text.c_str());
      }
      for (const auto& [hz, x] : c.ticks) {
        const bool found = std::any_of(g.lines.begin(), g.lines.end(), [x = x](const RulerLine& l) {
          return l.x1 == x && l.x2 == x && l.y1 == 2;
        });
        QVERIFY2(found, (std::to_string(hz) + " Hz at " + std::to_string(x)).c_str());
      }
    }
    // The scale's own band, named, is the unnamed axis.
    RenderSettings own;
    own.bandLowHz = 16.0f;
    own.bandHighHz = 22050.0f;
    QCOMPARE(texts(layoutLogRuler(frequencyAxisSpec(own, 306).spec, realMeasurer())),
             texts(layoutLogRuler(frequencyAxisSpec(FrequencyScale::Mel, 44100, 306).spec, realMeasurer())));
    struct Precision {
      float step, from, to;
      int least, decimals;
    };
    const Precision precisions[] = {
        {1000.0f, 5000.0f, 15000.0f, 0, 0},  // 6k ... 14k
        {200.0f, 2000.0f, 4000.0f, 0, 1},    // 2.2k ... 3.8k
        {100.0f, 0.0f, 1000.0f, 0, 0},       // 100 ... 900: 1.00k is the end's
        {100.0f, 0.0f, 1001.0f, 0, 1},       // 1.0k is a tick's
        {0.5f, 100.0f, 120.0f, 0, 1},
        {0.2f, 5000.0f, 5010.0f, 0, 4},      // 5.0002k
        {5000.0f, 0.0f, 22050.0f, 2, 2},     // never fewer than asked
        {0.0f, 0.0f, 1000.0f, 0, 0},
    };
    for (const Precision& p : precisions) {
      QCOMPARE(bandLabelPrecision(p.step, p.from, p.to, p.least), p.decimals);
    }
  }

  void defaultAxesAroundTheWindowsFrame() {
    MainWindow w;  // defaults: pink noise, 15 s, Mel
    const MainWindowControls& c = w.controls();
    const QRect frame = c.previewFrame->geometry();
    const int hp = frame.height() - 2;
    const int wp = frame.width() - 2;
    QCOMPARE(c.timeAxisStrip->geometry(), QRect(frame.x() - 60, frame.y() - 4, 58, frame.height() + 8));
    QCOMPARE(c.freqAxisStrip->geometry(), QRect(frame.x() - 9, frame.bottom() + 3, frame.width() + 18, 46));
    QCOMPARE(c.timeAxisStrip->pixmap().size(), QSize(58, hp + 10));
    QCOMPARE(c.freqAxisStrip->pixmap().size(), QSize(wp + 20, 46));
    // The axes' first values meet the interior's top row and left column.
    QCOMPARE(c.timeAxisStrip->y() + 5, frame.y() + 1);
    QCOMPARE(c.freqAxisStrip->x() + 10, frame.x() + 1);

    // What the strips show, with the font they are drawn in.
    const RulerGeometry time = layoutLinearRuler(timeAxisSpec(15.0f, hp), realMeasurer());
    const std::vector<std::string> timeLabels = texts(time);
    QVERIFY(!timeLabels.empty());
    QCOMPARE(timeLabels.front(), std::string("0"));
    for (std::size_t i = 0; i < timeLabels.size(); ++i) {
      const int value = std::stoi(timeLabels[i]);
      QVERIFY(value < 15);
      if (i > 0) QVERIFY(value > std::stoi(timeLabels[i - 1]));
    }
    FrequencyAxis frequency = frequencyAxisSpec(FrequencyScale::Mel, 44100, wp);
    const std::vector<std::string> frequencyLabels = texts(layoutLogRuler(frequency.spec, realMeasurer()));
    QCOMPARE(frequencyLabels[0], std::string("16.00"));
    QCOMPARE(frequencyLabels[1], std::string("22.05k"));
    QVERIFY(std::find(frequencyLabels.begin(), frequencyLabels.end(), "1.0k") != frequencyLabels.end());
    QVERIFY(std::find(frequencyLabels.begin(), frequencyLabels.end(), "10k") != frequencyLabels.end());

    // The strips carry ink: ticks next to the frame and the titles.
    const QImage timeImage = c.timeAxisStrip->pixmap().toImage();
    const QColor background = w.palette().color(QPalette::Window);
    QVERIFY(hasInk(timeImage, QRect(46, 5, 10, 1), background));            // the 0 s tick
    QVERIFY(hasInk(timeImage, QRect(2, hp / 2 - 10, 12, 20), background));  // the rotated title
    QVERIFY(!hasInk(timeImage, QRect(57, 0, 1, hp + 10), background));      // nothing on the frame's side
    const QImage frequencyImage = c.freqAxisStrip->pixmap().toImage();
    QVERIFY(hasInk(frequencyImage, QRect(10, 2, 1, 23), background));             // the start mark
    QVERIFY(hasInk(frequencyImage, QRect(wp / 2 - 20, 30, 40, 14), background));  // the title
  }

  void redrawFollowsTheSettingsButNotThePicture() {
    MainWindow w;
    const MainWindowControls& c = w.controls();
    const QImage melImage = c.freqAxisStrip->pixmap().toImage();
    const QImage fifteen = c.timeAxisStrip->pixmap().toImage();

    auto bitmap = std::make_shared<PictureBitmap>();
    bitmap->width = 3;
    bitmap->height = 1;
    bitmap->stride = 4;
    bitmap->pixels = {255, 0, 255, 0};
    c.previewFrame->setPicture(bitmap);
    QCOMPARE(c.freqAxisStrip->pixmap().toImage(), melImage);
    QCOMPARE(c.timeAxisStrip->pixmap().toImage(), fifteen);

    renderSettings.frequencyScale = FrequencyScale::Linear;
    renderSettings.durationSeconds = 600.0f;
    redrawAxes(w);
    QVERIFY(c.freqAxisStrip->pixmap().toImage() != melImage);
    QVERIFY(c.timeAxisStrip->pixmap().toImage() != fifteen);

    renderSettings.frequencyScale = FrequencyScale::Mel;
    renderSettings.durationSeconds = 15.0f;
    redrawAxes(w);
    QCOMPARE(c.freqAxisStrip->pixmap().toImage(), melImage);
    QCOMPARE(c.timeAxisStrip->pixmap().toImage(), fifteen);

    // A wave source uses the input file's duration.
    renderSettings.inputSource = InputSource::WaveFile;
    inputWaveDuration = 15.0f;
    redrawAxes(w);
    QCOMPARE(c.timeAxisStrip->pixmap().toImage(), fifteen);
    inputWaveDuration = 0.0f;
    redrawAxes(w);
    QVERIFY(c.timeAxisStrip->pixmap().toImage() != fifteen);
  }
};

QTEST_MAIN(AxesTest)
#include "axes_test.moc"
