// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/command_line.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <cstdio>

namespace vellomar {
namespace {

struct Parsed {
  bool help = false;
  bool version = false;
  bool ok = true;
  QString error;
  QStringList files;
};

Parsed parse(const QStringList& arguments) {
  QCommandLineParser parser;
  // "-style" is one unknown option, not -s -t -y -l -e; single-letter
  // options still work with one dash.
  parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
  const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")}, QString());
  const QCommandLineOption version({QStringLiteral("v"), QStringLiteral("version")}, QString());
  parser.addOption(help);
  parser.addOption(version);
  parser.addPositionalArgument(QStringLiteral("FILE"), QString(), QStringLiteral("[FILE...]"));
  Parsed parsed;
  parsed.ok = parser.parse(arguments);
  parsed.error = parser.errorText();
  parsed.help = parser.isSet(help);
  parsed.version = parser.isSet(version);
  parsed.files = parser.positionalArguments();
  return parsed;
}

void print(std::FILE* stream, const QString& text) {
  const QByteArray bytes = text.toLocal8Bit();
  std::fwrite(bytes.constData(), 1, static_cast<std::size_t>(bytes.size()), stream);
  std::fflush(stream);
}

}  // namespace

StartCommandLine parseStartCommandLine(const QStringList& arguments) {
  const Parsed parsed = parse(arguments);
  StartCommandLine line;
  line.help = parsed.help;
  line.version = parsed.version;
  line.files = parsed.files;
  if (!parsed.ok) line.error = parsed.error;
  return line;
}

QString startHelpText() {
  return QStringLiteral(
      "Usage: vellomar [FILE...]\n"
      "Shapes sound with a picture, in a window.\n"
      "\n"
      "Each FILE is a picture (BMP, PNG, JPEG, GIF or TIFF) or a sound file, in\n"
      "any order; they are told apart by what is in them, not by their names.\n"
      "The picture is loaded into the preview and the sound becomes the input.\n"
      "The window reads mono 8 or 16-bit 44100 Hz WAV files, and any other\n"
      "recording once \"Read any audio file\" is on under Options. A file that\n"
      "cannot be used is named in a message that says why, and the window opens\n"
      "all the same.\n"
      "\n"
      "Options:\n"
      "  -h, --help     print this help and exit\n"
      "  -v, --version  print the version and the licence and exit\n"
      "\n"
      "The manual opens with Help (F1) in the window. vellomar-render renders\n"
      "and analyses from the command line (see vellomar-render --help).\n");
}

QString startVersionText() {
  return QStringLiteral(
             "vellomar %1\n"
             "Copyright (C) 2026 Vellomar developers\n"
             "License GPL-3.0-or-later: GNU GPL version 3 or later <https://gnu.org/licenses/gpl.html>.\n"
             "This is free software: you are free to change and redistribute it.\n"
             "There is NO WARRANTY, to the extent permitted by law.\n")
      .arg(QStringLiteral(VELLOMAR_VERSION));
}

int answerBeforeWindows(int argc, char** argv) {
  QStringList arguments;
  for (int i = 0; i < argc; ++i) arguments << QString::fromLocal8Bit(argv[i]);
  // Unknown options are left for later: they may be Qt's own.
  const Parsed parsed = parse(arguments);
  if (parsed.help) {
    print(stdout, startHelpText());
    return 0;
  }
  if (parsed.version) {
    print(stdout, startVersionText());
    return 0;
  }
  return -1;
}

}  // namespace vellomar
