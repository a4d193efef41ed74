// SPDX-License-Identifier: GPL-3.0-or-later
// The files the window program is given when it starts: a picture and a
// sound, told apart by what is in them, whatever their names.
#pragma once

#include <QString>
#include <QStringList>

namespace vellomar {

class MainWindow;

enum class StartFileKind { Picture, Sound, Unusable };

struct StartFileCheck {
  StartFileKind kind = StartFileKind::Unusable;
  QString reason;  // why an unusable file cannot be used
};

// Looks into `path`: a sound is a file that starts as the sound files that
// the readers know do (RIFF or RF64 WAVE, Wave64, AIFF, FLAC, Ogg, MP3, AU,
// CAF); a picture is one that Qt's image readers take by its contents. A
// file that cannot be read says why in the system's words.
StartFileCheck checkStartFile(const QString& path);

struct StartFiles {
  QString picture;  // empty: none
  QString sound;    // empty: none
  // One line for every file not taken, naming it and saying why.
  QStringList refusals;
};

// The first picture and the first sound among `paths`; every other file,
// and a path longer than the window's file fields take, is refused.
StartFiles sortStartFiles(const QStringList& paths);

// Loads the picture as "Load picture" does and takes the sound as the
// input wave, with "Wave file" chosen, as a chosen input file is taken
// (each with its own messages when it cannot be used); then one message
// names the files that were not taken.
void openStartFiles(MainWindow& window, const StartFiles& files);

}  // namespace vellomar
