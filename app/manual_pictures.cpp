// SPDX-License-Identifier: GPL-3.0-or-later
// Draws the manual's pictures into a folder: each window of the program as
// it shows itself (taken from the real windows, on whatever platform Qt is
// given, usually "offscreen"), and the example pictures whose sounds the
// manual shows beside them. scripts/manual-pictures.sh runs it.
//
//   vellomar-manual-pictures FOLDER
#include <QAction>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFont>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <QTemporaryDir>
#include <QWidget>
#include <clocale>
#include <cstdio>
#include <functional>

#include "files/messages.h"
#include "resources/dialog_templates.h"
#include "ui/common/app_state.h"
#include "ui/common/icons.h"
#include "ui/help/about_box.h"
#include "ui/help/help.h"
#include "ui/help/help_window.h"
#include "ui/main_window/main_window.h"
#include "ui/main_window/options_dialog.h"
#include "ui/main_window/settings_controls.h"
#include "ui/main_window/window_commands.h"
#include "ui/progress/progress_dialog.h"
#include "ui/template/template_window.h"
#include "ui/view/spectrogram_window.h"

namespace {

using namespace vellomar;

QDir gFolder;     // absolute: the program works in a scratch folder
QString gShownFolder;  // as given, for what it prints
int gFailures = 0;

void fail(const QString& what) {
  std::fprintf(stderr, "vellomar-manual-pictures: %s\n", what.toLocal8Bit().constData());
  ++gFailures;
}

// Lets the windows lay themselves out and paint.
void settle(int milliseconds = 150) {
  QElapsedTimer clock;
  clock.start();
  while (clock.elapsed() < milliseconds) QApplication::processEvents(QEventLoop::AllEvents, 20);
}

void save(const QImage& image, const char* name) {
  const QString path = gFolder.filePath(QString::fromUtf8(name));
  if (image.isNull() || !image.save(path, "PNG")) {
    fail(QStringLiteral("cannot write %1").arg(path));
  } else {
    std::printf("%s/%s\n", gShownFolder.toLocal8Bit().constData(), name);
  }
}

void grab(QWidget& window, const char* name) {
  window.show();
  window.raise();
  settle();
  save(window.grab().toImage(), name);
}

// The example pictures: rows are time from the top, columns frequency
// from the left, white is loud. Each is drawn, not loaded, so that the
// script can make them again.
QImage blank(int width, int height) {
  QImage image(width, height, QImage::Format_RGB32);
  image.fill(Qt::black);
  return image;
}

QImage sweepPicture() {
  QImage image = blank(256, 192);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(QPen(Qt::white, 4, Qt::SolidLine, Qt::RoundCap));
  // A rising tone: from low at the start to high at the end, and back down.
  QPainterPath path(QPointF(20, 8));
  path.cubicTo(QPointF(40, 90), QPointF(200, 60), QPointF(236, 110));
  path.cubicTo(QPointF(250, 140), QPointF(120, 170), QPointF(60, 184));
  p.drawPath(path);
  return image;
}

QImage chordPicture() {
  QImage image = blank(256, 192);
  QPainter p(&image);
  // Three steady tones that swell and fade, one after another.
  const struct {
    int column;
    int top;
  } tones[] = {{70, 10}, {118, 50}, {160, 90}};
  for (const auto& tone : tones) {
    QLinearGradient fade(0, tone.top, 0, 184);
    fade.setColorAt(0.0, Qt::black);
    fade.setColorAt(0.2, Qt::white);
    fade.setColorAt(0.75, Qt::white);
    fade.setColorAt(1.0, Qt::black);
    p.fillRect(QRect(tone.column, tone.top, 3, 184 - tone.top), fade);
  }
  return image;
}

QImage cloudsPicture() {
  QImage image = blank(256, 192);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  // Soft patches of noise: blurred edges sound smooth.
  const struct {
    QPointF centre;
    qreal radius;
  } clouds[] = {{{60, 50}, 45}, {{170, 90}, 60}, {{100, 155}, 35}};
  for (const auto& cloud : clouds) {
    QRadialGradient glow(cloud.centre, cloud.radius);
    glow.setColorAt(0.0, Qt::white);
    glow.setColorAt(1.0, QColor(0, 0, 0, 0));
    p.setPen(Qt::NoPen);
    p.setBrush(glow);
    p.drawEllipse(cloud.centre, cloud.radius, cloud.radius);
  }
  return image;
}

QImage stereoPicture() {
  QImage image = blank(256, 192);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  p.setCompositionMode(QPainter::CompositionMode_Plus);
  // Red is the left channel, green the right: a sweep up on the left, one
  // down on the right, and a steady tone in both (yellow).
  p.setPen(QPen(Qt::red, 4, Qt::SolidLine, Qt::RoundCap));
  p.drawLine(QPointF(30, 10), QPointF(226, 182));
  p.setPen(QPen(Qt::green, 4, Qt::SolidLine, Qt::RoundCap));
  p.drawLine(QPointF(226, 10), QPointF(30, 182));
  p.setPen(QPen(Qt::yellow, 3));
  p.drawLine(QPointF(180, 20), QPointF(180, 90));
  return image;
}

QImage wordPicture() {
  QImage image = blank(320, 160);
  QPainter p(&image);
  p.setRenderHint(QPainter::TextAntialiasing);
  QFont font(QStringLiteral("DejaVu Sans"));
  font.setPixelSize(64);
  font.setBold(true);
  p.setFont(font);
  p.setPen(Qt::white);
  // Read across the frequencies, the word stands in the sound's spectrogram.
  p.drawText(image.rect(), Qt::AlignCenter, QStringLiteral("Hello"));
  return image;
}

void drawExamples() {
  save(sweepPicture(), "example-sweep.png");
  save(chordPicture(), "example-chord.png");
  save(cloudsPicture(), "example-clouds.png");
  save(stereoPicture(), "example-stereo.png");
  save(wordPicture(), "example-word.png");
}

// The program's windows, each in a state the manual describes.
void grabWindows() {
  MainWindow window;
  // A fixed start for the noise, so that the same windows give the same
  // pictures.
  randomSeed = 1;
  renderSettings.durationSeconds = 6.0f;
  // A plain name, in the scratch folder that is the current one.
  renderSettings.outputPath = "hello.wav";
  populateSettingsControls(window);
  refreshAfterChange(window);
  window.show();
  settle();
  if (!loadPictureFile(window, pathFromQt(gFolder.filePath(QStringLiteral("example-word.png"))))) {
    fail(QStringLiteral("the example picture does not load"));
  }

  {
    ProgressDialog progress(&window);
    progress.setProgressAt(420, 9.0);
    grab(progress, "window-progress.png");
  }
  {
    OptionsDialog options(&window);
    grab(options, "window-options.png");
  }
  {
    TemplateWindow ruler(&window);
    ruler.resize(ruler.width() * 3 / 2, ruler.height());
    grab(ruler, "window-template.png");
  }
  {
    AboutBox about(&window);
    grab(about, "window-about.png");
  }

  if (!renderToOutput(window)) fail(QStringLiteral("the render failed"));
  grab(window, "window-main.png");
  auto* spectrogram = window.findChild<QAction*>(QStringLiteral("spectrogramAction"));
  if (spectrogram) spectrogram->trigger();
  SpectrogramWindow* shown = window.findChild<SpectrogramWindow*>();
  if (shown) {
    grab(*shown, "window-spectrogram.png");
  } else {
    fail(QStringLiteral("no spectrogram window"));
  }

  HelpWindow help(&window);
  help.showManual(findManual());
  help.resize(760, 560);
  grab(help, "window-help.png");
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  if (argc != 2) {
    std::fprintf(stderr, "usage: vellomar-manual-pictures FOLDER\n");
    return 2;
  }
  gShownFolder = QString::fromLocal8Bit(argv[1]);
  gFolder = QDir(QDir(gShownFolder).absolutePath());
  if (!gFolder.mkpath(QStringLiteral("."))) {
    std::fprintf(stderr, "vellomar-manual-pictures: cannot make %s\n", argv[1]);
    return 1;
  }
  std::setlocale(LC_NUMERIC, "C");
  setAppTitle(templates::kTitleString);
  // A message would be a fault here: say it and go on without a box.
  setMessagePresenter([](MessageOwner, unsigned, const std::string& caption, const std::string& text) {
    fail(QStringLiteral("message \"%1\": %2").arg(QString::fromStdString(caption), QString::fromStdString(text)));
    return kButtonOk;
  });
  QApplication::setWindowIcon(appIcon());
  QTemporaryDir scratch;
  if (!scratch.isValid()) {
    fail(QStringLiteral("no scratch folder"));
    return 1;
  }
  drawExamples();
  QDir::setCurrent(scratch.path());
  grabWindows();
  return gFailures == 0 ? 0 : 1;
}
