#include "ui/main_commands.h"

namespace vellomar {

void connectMainWindowCommands(MainWindow&) {}

}  // namespace vellomar
