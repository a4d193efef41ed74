// The frequency scale template window: width limits, fixed height, the
// read-out and the ruler band.
#include "ui/template_window.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include "engine/settings.h"
#include "support/test_support.h"
#include "support/window_support.h"

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

  void onlyCloseEndsIt() {
    TemplateWindow window(nullptr);
    int result = -1;
    QTimer::singleShot(0, [&] {
      QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
      QApplication::sendEvent(&window, &escape);
      window.close();
      if (!window.isVisible()) return;
      // Enter presses the default "Close".
      QTest::keyClick(&window, Qt::Key_Return);
    });
    result = window.exec();
    QCOMPARE(result, kTemplateClosed);
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
