// Help: the program's HTML manual, opened in the desktop's browser.
#pragma once

#include <QString>
#include <QUrl>
#include <functional>

class QWidget;

namespace vellomar {

// Opens the manual. When it cannot be opened nothing is shown or reported,
// and later requests give up at once: the viewer is looked for only once.
void showHelp(QWidget* owner);

// Where the manual is: next to the program (as built), in the installed
// documentation folder, or else a copy of the one built into the program,
// written to a temporary folder. Empty when none can be had.
QString findManual();

// Opens a URL; QDesktopServices::openUrl unless replaced.
using UrlOpener = std::function<bool(const QUrl&)>;
void setUrlOpener(UrlOpener opener);

// Forgets that help was unavailable (a fresh start, for tests).
void resetHelpState();

// File name of the manual.
inline constexpr const char* kManualFileName = "vellomar.html";

}  // namespace vellomar
