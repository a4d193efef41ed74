#include <QApplication>

#include "files/messages.h"
#include "resources/dialog_templates.h"
#include "ui/icons.h"
#include "ui/main_window.h"
#include "ui/message_box.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("vellomar"));
  QApplication::setDesktopFileName(QStringLiteral("vellomar"));
  vellomar::setAppTitle(vellomar::templates::kTitleString);
  vellomar::installMessageBoxPresenter();
  QApplication::setWindowIcon(vellomar::appIcon());

  vellomar::MainWindow window;
  window.exec();
  return 0;
}
