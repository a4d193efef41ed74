// SPDX-License-Identifier: GPL-3.0-or-later
#include <QApplication>
#include <QImageReader>
#include <QTimer>
#include <clocale>
#include <cstdio>

#include "app/command_line.h"
#include "app/start_files.h"
#include "files/messages.h"
#include "resources/dialog_templates.h"
#include "ui/common/icons.h"
#include "ui/common/message_box.h"
#include "ui/main_window/main_window.h"

int main(int argc, char** argv) {
  const int answered = vellomar::answerBeforeWindows(argc, argv);
  if (answered >= 0) return answered;

  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("vellomar"));
  QApplication::setApplicationVersion(QStringLiteral(VELLOMAR_VERSION));
  // The desktop entry's name, which Wayland and the desktop's task lists
  // match the window to.
  QApplication::setDesktopFileName(QStringLiteral("org.vellomar.vellomar"));
  const vellomar::StartCommandLine line = vellomar::parseStartCommandLine(QApplication::arguments());
  if (!line.error.isEmpty()) {
    std::fprintf(stderr, "vellomar: %s\nTry 'vellomar --help'.\n", line.error.toLocal8Bit().constData());
    return 2;
  }

  vellomar::setAppTitle(vellomar::templates::kTitleString);
  vellomar::installMessageBoxPresenter();
  // Numbers in the fields and lists are read and written with a point,
  // whatever the user's locale.
  std::setlocale(LC_NUMERIC, "C");

  // The picture decoder: Qt's image readers, which come with Qt itself.
  if (QImageReader::supportedImageFormats().isEmpty()) {
    vellomar::showErrorBox(nullptr, "Cannot initialize GDI+ graphics library.\nError code %d", 1);
    return 0;
  }
  QApplication::setWindowIcon(vellomar::appIcon());

  vellomar::MainWindow window;
  // The files open once the window shows, so that their messages stand
  // over it.
  const vellomar::StartFiles files = vellomar::sortStartFiles(line.files);
  QTimer::singleShot(0, &window, [&window, &files] { vellomar::openStartFiles(window, files); });
  window.exec();
  return 0;
}
