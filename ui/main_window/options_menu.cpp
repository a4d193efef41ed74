// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/main_window/options_menu.h"

#include <QAction>
#include <QMenu>
#include <QMenuBar>

#include "ui/main_window/main_window.h"
#include "ui/main_window/options_dialog.h"
#include "ui/main_window/settings_controls.h"

namespace vellomar {

QMenu* addOptionsMenu(MainWindow& window) {
  const MainWindowControls& c = window.controls();
  auto* menu = new QMenu(QStringLiteral("&Options"), c.menuBar);
  menu->setObjectName(QStringLiteral("optionsMenu"));
  QAction* action = menu->addAction(QStringLiteral("&Sound source, stereo and band..."));
  action->setObjectName(QStringLiteral("optionsAction"));
  c.menuBar->insertMenu(c.helpMenu->menuAction(), menu);
  connectCommand(window, action, &QAction::triggered, runOptionsDialog);
  return menu;
}

}  // namespace vellomar
