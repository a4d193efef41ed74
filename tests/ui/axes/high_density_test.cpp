// SPDX-License-Identifier: GPL-3.0-or-later
// On a screen with two device pixels to a window pixel (a scale factor of
// 2), the axes, the preview and the template ruler are drawn on the device
// pixels, and the template's read-out counts them.
#include <QApplication>
#include <QLabel>
#include <QPixmap>
#include <QtTest>
#include <memory>

#include "engine/settings.h"
#include "support/test_support.h"
#include "support/window_support.h"
#include "ui/axes/axes.h"
#include "ui/main_window/main_window.h"
#include "ui/axes/preview_frame.h"
#include "ui/view/spectrogram_window.h"
#include "ui/template/template_window.h"

using namespace vellomar;
using namespace vellomar::test;

class HighDensityTest : public QObject {
  Q_OBJECT

 private slots:
  void init() { resetWindowState(); }

  void theScreenIsDense() { QCOMPARE(qApp->devicePixelRatio(), 2.0); }

  void axesCarryTheScreensPixels() {
    MainWindow w;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    const MainWindowControls& c = w.controls();
    for (QLabel* strip : {c.timeAxisStrip, c.freqAxisStrip}) {
      const QPixmap pixmap = strip->pixmap();
      QCOMPARE(pixmap.devicePixelRatio(), 2.0);
      QCOMPARE(pixmap.deviceIndependentSize().toSize().width(), strip->width());
      QCOMPARE(pixmap.width(), 2 * strip->width());
    }
    // A new duration draws them anew, dense again.
    renderSettings.durationSeconds = 1000000.0f;
    redrawAxes(w);
    QCOMPARE(c.timeAxisStrip->pixmap().devicePixelRatio(), 2.0);
    QCOMPARE(c.timeAxisStrip->pixmap().width(), 2 * c.timeAxisStrip->width());
  }

  void previewShowsEveryDevicePixelOfThePicture() {
    MainWindow w;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    PreviewFrame* frame = w.controls().previewFrame;
    const QRect inside = frame->interior();
    // As many picture columns as the interior has device pixels, black and
    // white by turns.
    auto bitmap = std::make_shared<PictureBitmap>();
    bitmap->width = static_cast<std::uint32_t>(2 * inside.width());
    bitmap->height = 4;
    bitmap->stride = (bitmap->width + 3) / 4 * 4;
    bitmap->pixels.assign(bitmap->stride * bitmap->height, 0);
    for (std::uint32_t y = 0; y < bitmap->height; ++y)
      for (std::uint32_t x = 0; x < bitmap->width; x += 2) bitmap->pixels[y * bitmap->stride + x] = 255;
    frame->setPicture(bitmap);
    const QImage shown = frame->grab().toImage();
    QCOMPARE(shown.devicePixelRatio(), 2.0);
    QCOMPARE(shown.size(), frame->size() * 2);
    const int y = shown.height() / 2;
    int changes = 0;
    for (int x = 2 * inside.left(); x + 1 < 2 * (inside.left() + inside.width()); ++x)
      if (qGray(shown.pixel(x, y)) != qGray(shown.pixel(x + 1, y))) ++changes;
    QCOMPARE(changes, 2 * inside.width() - 1);
  }

  void spectrogramPanelsDrawOnTheDevicePixels() {
    MainWindow owner;
    SpectrogramWindow window(&owner);
    QImage picture(3, 2, QImage::Format_Grayscale8);
    picture.fill(0);
    picture.scanLine(0)[0] = 255;
    RenderSettings settings;
    settings.frequencyScale = FrequencyScale::Logarithmic;
    window.setContent(picture, picture, 4.0f, settings);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    for (SpectrogramPanel* panel : {window.picturePanel(), window.soundPanel()}) {
      for (const QImage* axis : {&panel->timeAxis(), &panel->frequencyAxis()}) {
        QCOMPARE(axis->devicePixelRatio(), 2.0);
      }
      QCOMPARE(panel->frequencyAxis().width(), 2 * (panel->interior().width() + 20));
      // Each picture pixel is a sharp block of device pixels: nothing
      // between white and black, white first.
      const QImage shown = panel->grab().toImage();
      const QRect inside = panel->interior();
      int changes = 0;
      for (int x = 2 * inside.left(); x < 2 * (inside.left() + inside.width()); ++x) {
        const int grey = qGray(shown.pixel(x, 2 * inside.top() + 1));
        QVERIFY2(grey == 0 || grey == 255, qPrintable(QString("%1 at %2").arg(grey).arg(x)));
        if (x > 2 * inside.left() && grey != qGray(shown.pixel(x - 1, 2 * inside.top() + 1))) ++changes;
      }
      QCOMPARE(qGray(shown.pixel(2 * inside.left(), 2 * inside.top())), 255);
      QCOMPARE(changes, 1);
    }
  }

  void templateReadOutCountsDevicePixels() {
    TemplateWindow window(nullptr);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    const int w = window.width() - 28;
    QCOMPARE(window.lengthLabel()->text(), QString("Current length %1 pixels").arg(2 * w));
    QCOMPARE(window.rulerImage().width(), 2 * w);
    QCOMPARE(window.rulerImage().devicePixelRatio(), 2.0);
    QCOMPARE(window.band()->contentsRect().width(), w);
    // 1000 window pixels read 2000, in full.
    window.resize(1028, window.height());
    QCOMPARE(window.lengthLabel()->text(), QString("Current length 2000 pixels"));
    QVERIFY(window.lengthLabel()->width() >= window.lengthLabel()->sizeHint().width());
  }
};

int main(int argc, char** argv) {
  qputenv("QT_SCALE_FACTOR", "2");
  QApplication app(argc, argv);
  HighDensityTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "high_density_test.moc"
