// SPDX-License-Identifier: GPL-3.0-or-later
// Help: the program's HTML manual, shown in a help window inside the
// program (no web browser needed), from where it can be opened in the
// desktop's browser too.
#pragma once

#include <QString>
#include <QUrl>
#include <functional>

class QWidget;

namespace vellomar {

// Shows the manual in the help window of `owner` (one per owner, brought to
// the front when it is already open). When no manual can be found, a
// message says so.
void showHelp(QWidget* owner);

// Where the manual is: next to the program (as built), in the installed
// documentation folder, or else the copy built into the program (a qrc:
// URL, its pictures beside it). Empty when none can be had.
QUrl findManual();

// The manual at `manual` as a file a browser can open: the file itself, or
// the built-in copy written with its pictures to a temporary folder that
// lasts as long as the program. Empty when it cannot be written.
QString manualFileForBrowser(const QUrl& manual);

// Opens a URL in the desktop's browser: QDesktopServices::openUrl unless
// replaced. True when a browser took it.
using UrlOpener = std::function<bool(const QUrl&)>;
void setUrlOpener(UrlOpener opener);
bool openInDesktopBrowser(const QUrl& url);

// Finds the manual: findManual unless replaced.
using ManualFinder = std::function<QUrl()>;
void setManualFinder(ManualFinder finder);

// File name of the manual; its pictures are in images/ beside it.
inline constexpr const char* kManualFileName = "vellomar.html";

}  // namespace vellomar
