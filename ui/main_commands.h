// Hooks the main window's commands and settings controls up to the
// settings and the render. Called once by the main window's constructor,
// after every control exists and before the axes are first drawn.
#pragma once

namespace vellomar {

class MainWindow;

void connectMainWindowCommands(MainWindow& window);

}  // namespace vellomar
