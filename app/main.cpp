#include <QApplication>
#include <QImageReader>
#include <clocale>

#include "files/messages.h"
#include "resources/dialog_templates.h"
#include "ui/common/icons.h"
#include "ui/main_window/main_window.h"
#include "ui/common/message_box.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("vellomar"));
  QApplication::setDesktopFileName(QStringLiteral("vellomar"));
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
  window.exec();
  return 0;
}
