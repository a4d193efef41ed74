// SPDX-License-Identifier: GPL-3.0-or-later
// The window program's command line: the files to open, --help and
// --version, read with QCommandLineParser.
#pragma once

#include <QString>
#include <QStringList>

namespace vellomar {

struct StartCommandLine {
  QStringList files;  // as given, in order
  bool help = false;
  bool version = false;
  QString error;  // a usage error in words; empty when there is none
};

// Reads `arguments` (the program's name first, Qt's own options already
// taken out). "-" alone and anything after "--" are files.
StartCommandLine parseStartCommandLine(const QStringList& arguments);

// What --help and --version print.
QString startHelpText();
QString startVersionText();

// Answers --help and --version before any window system is started, so that
// both work without a display: the exit code when the program should end
// now, -1 when it goes on. Other options are judged once Qt has taken its
// own (-platform, -style ...) out of the command line.
int answerBeforeWindows(int argc, char** argv);

}  // namespace vellomar
