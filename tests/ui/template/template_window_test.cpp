// SPDX-License-Identifier: GPL-3.0-or-later
// The frequency scale template window: width limits, fixed height, the
// read-out and the ruler band.
#include "ui/template/template_window.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <cmath>
#include <vector>

#include "engine/settings.h"
#include "support/test_support.h"
#include "support/window_support.h"
#include "ui/axes/rulers.h"

using namespace vellomar;
using namespace vellomar::test;

namespace {

// Whether any pixel of a column range of `image` is light (a tick or a label).
int lightPixels(const QImage& image, int x0, int x1, int y0, int y1) {
  int count = 0;
  for (int y = y0; y < y1; ++y) {
    for (int x = x0; x < x1; ++x) {
      if (qGray(image.pixel(x, y)) > 128) ++count;
    }
  }
  return count;
}

}  // namespace

class TemplateWindowTest : public QObject {
  Q_OBJECT

 private slots:
  void init() { resetWindowState(); }

  void readOutFollowsTheWidth() {
    TemplateWindow window(nullptr);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    const int w = window.width() - 28;
    QCOMPARE(window.lengthLabel()->text(), QString("Current length %1 pixels").arg(w));
    QCOMPARE(window.rulerImage().width(), w);

    window.resize(window.width() + 10, window.height());
    QCOMPARE(window.lengthLabel()->text(), QString("Current length %1 pixels").arg(w + 10));
    QCOMPARE(window.rulerImage().width(), w + 10);
    // The band shows all of the ruler.
    QCOMPARE(window.band()->contentsRect().width(), w + 10);
  }

  void widthHasAFloorAndHeightIsFixed() {
    TemplateWindow window(nullptr);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    const int height = window.height();
    QCOMPARE(templateWindowHeight, height);
    window.resize(50, height + 100);
    QCOMPARE(window.width(), 180);
    QCOMPARE(window.height(), height);
    QCOMPARE(window.lengthLabel()->text(), QString("Current length 152 pixels"));
    // The controls stay centred.
    QCOMPARE(window.closeButton()->x(), (180 - window.closeButton()->width()) / 2);
    QCOMPARE(window.closeButton()->y(), height - (3 * window.closeButton()->height()) / 2);
  }

  void escapeDoesNotEndItAndEnterCloses() {
    TemplateWindow window(nullptr);
    bool openAfterEscape = false;
    QTimer::singleShot(0, [&] {
      QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
      QApplication::sendEvent(&window, &escape);
      openAfterEscape = window.isVisible();
      // Enter presses the default "Close".
      QTest::keyClick(&window, Qt::Key_Return);
    });
    QCOMPARE(window.exec(), kTemplateClosed);
    QVERIFY(openAfterEscape);
  }

  void layoutCentresAndKeepsTheReadOutWhole() {
    struct Case {
      QSize client;
      int readOutTextWidth;
      int readOutX, readOutWidth, closeX, closeY, bandWidth;
    };
    // Instructions 240 wide, read-out placed at (200, 150) 120 x 13 in the
    // template, "Close" 75 x 23, band from y 60 to 140.
    const Case cases[] = {
        {{573, 211}, 110, 226, 120, 249, 177, 545},   // the text fits the template's width
        {{1100, 211}, 151, 474, 151, 512, 177, 1072},  // "... 1072 pixels" needs more
        {{180, 211}, 110, 30, 120, 52, 177, 152},      // the narrowest window
        {{181, 211}, 110, 30, 120, 53, 177, 153},      // odd widths round down
    };
    for (const Case& c : cases) {
      const TemplateLayout layout =
          templateLayout(c.client, 240, QRect(200, 150, 120, 13), c.readOutTextWidth, QSize(75, 23), 60, 140);
      QCOMPARE(layout.instructionsX, (c.client.width() - 240) / 2);
      QCOMPARE(layout.readOut, QRect(c.readOutX, 150, c.readOutWidth, 13));
      QCOMPARE(layout.close, QPoint(c.closeX, c.closeY));
      QCOMPARE(layout.band, QRect(14, 60, c.bandWidth, 80));
    }
    QCOMPARE(templateLength(545, 1.0), 545);
    QCOMPARE(templateLength(545, 2.0), 1090);
    QCOMPARE(templateLength(545, 1.5), 818);  // 817.5 rounds up
    QCOMPARE(templateLength(0, 2.0), 0);
  }

  void longReadOutIsNotClipped() {
    TemplateWindow window(nullptr);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    for (const int width : {1100, 1400, 9000}) {
      window.resize(width, window.height());
      const int w = window.width() - 28;
      QVERIFY(w >= 1000);
      QLabel* readOut = window.lengthLabel();
      QCOMPARE(readOut->text(), QString("Current length %1 pixels").arg(w));
      QVERIFY(readOut->width() >= readOut->sizeHint().width());
      QVERIFY(readOut->width() >= readOut->fontMetrics().horizontalAdvance(readOut->text()));
      QCOMPARE(readOut->x(), (window.width() - readOut->width()) / 2);
    }
  }

  void aCloseBoxActsAsClose() {
    // A window manager may show a close box on the caption anyway.
    TemplateWindow window(nullptr);
    QTimer::singleShot(0, [&] { window.close(); });
    QCOMPARE(window.exec(), kTemplateClosed);
  }

  void rulerIsDrawnOnTheDevicePixels() {
    renderSettings.frequencyScale = FrequencyScale::Linear;
    const QImage plain = drawTemplateRuler(300, 80, 1.0);
    const QImage dense = drawTemplateRuler(300, 80, 2.0);
    QCOMPARE(dense.devicePixelRatio(), 2.0);
    QCOMPARE(dense.size(), QSize(600, 160));
    QCOMPARE(dense.deviceIndependentSize(), QSizeF(300, 80));
    // The ruler is laid out over the 600 device pixels: its ticks are one
    // device pixel wide and stand where a 600-pixel ruler puts them, odd
    // pixels included, with the spacing of the plain drawing (every 500 Hz).
    const int tickRow = 160 - 2 * 4 - 1;
    std::vector<int> ticks;
    for (int x = 0; x < 600; ++x)
      if (qGray(dense.pixel(x, tickRow)) > 128) ticks.push_back(x);
    std::vector<int> expected;
    for (int k = 1; k <= 44; ++k) {
      const int pos = static_cast<int>(std::trunc(500.0 * k / 22050.0 * 600.0 + 0.5));
      if (pos >= 8 && pos < 600 - 8) expected.push_back(pos);  // the margin: 4 window pixels
    }
    QCOMPARE(ticks, expected);
    QVERIFY(std::any_of(ticks.begin(), ticks.end(), [](int x) { return x % 2 == 1; }));
    int plainTicks = 0;
    for (int x = 0; x < 300; ++x) plainTicks += qGray(plain.pixel(x, 80 - 4 - 1)) > 128 ? 1 : 0;
    QCOMPARE(static_cast<std::size_t>(plainTicks), expected.size());
    // The title stays where it is in window pixels: from y = 4.
    QCOMPARE(lightPixels(dense, 0, 600, 0, 8), 0);
    QVERIFY(lightPixels(dense, 200, 400, 8, 30) > 0);
  }

  // A chosen band: the ruler runs from its low end to its high end, on the
  // scale's warp between them.
  void rulerShowsTheBand() {
    renderSettings.frequencyScale = FrequencyScale::Linear;
    renderSettings.bandLowHz = 2000.0f;
    renderSettings.bandHighHz = 4000.0f;
    const QImage linear = drawTemplateRuler(300, 80);
    const int tickRow = 80 - 4 - 1;
    std::vector<int> ticks;
    for (int x = 0; x < 300; ++x)
      if (qGray(linear.pixel(x, tickRow)) > 128) ticks.push_back(x);
    // Ticks every 10, 20 or 50 Hz (whichever keeps the labels apart), each
    // where the band puts its frequency, none within the 4-pixel margins.
    bool matched = false;
    for (const float step : {10.0f, 20.0f, 50.0f}) {
      std::vector<int> expected;
      for (int k = 1; 2000.0f + k * step < 4000.0f; ++k) {
        const int pos = static_cast<int>(std::trunc(k * step / 2000.0 * 300.0 + 0.5));
        if (pos >= 4 && pos < 300 - 4) expected.push_back(pos);
      }
      matched = matched || ticks == expected;
    }
    QVERIFY(matched);
    QVERIFY(ticks.size() > 30);

    // Mel from 5 to 15 kHz: the one major tick, 10 kHz, stands where the
    // band's warp puts it (the scale's own band would put it at 214).
    renderSettings.frequencyScale = FrequencyScale::Mel;
    renderSettings.bandLowHz = 5000.0f;
    renderSettings.bandHighHz = 15000.0f;
    const QImage mel = drawTemplateRuler(300, 80);
    const double fraction = (std::log(10700.0) - std::log(5700.0)) / (std::log(15700.0) - std::log(5700.0));
    const int major = static_cast<int>(std::trunc(fraction * 300.0 + 0.5));
    std::vector<int> majors;
    for (int x = 0; x < 300; ++x)
      if (qGray(mel.pixel(x, 40)) > 128) majors.push_back(x);  // below the labels, above the minor ticks
    QCOMPARE(majors, std::vector<int>{major});
    renderSettings.bandLowHz = renderSettings.bandHighHz = 0.0f;
    const QImage own = drawTemplateRuler(300, 80);
    QCOMPARE(qGray(own.pixel(major, 40)) > 128, false);
  }

  void rulerIsLightOnBlack() {
    renderSettings.frequencyScale = FrequencyScale::Linear;
    const QImage linear = drawTemplateRuler(300, 80);
    QCOMPARE(linear.size(), QSize(300, 80));
    QCOMPARE(qGray(linear.pixel(0, 79)), 0);  // the band is black
    // Ticks rise from y = H - 4; the title sits at the top middle.
    QVERIFY(lightPixels(linear, 0, 300, 40, 76) > 0);
    QVERIFY(lightPixels(linear, 100, 200, 4, 16) > 0);
    QCOMPARE(lightPixels(linear, 0, 300, 77, 80), 0);

    renderSettings.frequencyScale = FrequencyScale::Logarithmic;
    const QImage log = drawTemplateRuler(300, 80);
    renderSettings.frequencyScale = FrequencyScale::Mel;
    const QImage mel = drawTemplateRuler(300, 80);
    QVERIFY(log != linear);
    QVERIFY(mel != log);
  }
};

QTEST_MAIN(TemplateWindowTest)
#include "template_window_test.moc"
