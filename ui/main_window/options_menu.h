// SPDX-License-Identifier: GPL-3.0-or-later
// The main window's "Options" menu, between its other menus and "Help":
// it opens the Options dialog (sine tones, stereo, frequency band or notes).
#pragma once

class QMenu;

namespace vellomar {

class MainWindow;

// Adds the menu to the window's menu bar, before the Help menu; returns it.
QMenu* addOptionsMenu(MainWindow& window);

}  // namespace vellomar
