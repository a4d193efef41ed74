// SPDX-License-Identifier: GPL-3.0-or-later
// What the editor's status line says about the point under the pointer:
// the time and frequency it stands for (where the render places that row
// and column), the note there on the Logarithmic scale, the pixel and its
// brightness, and its red and green (the left and right channels) in
// stereo.
#pragma once

#include <QString>
#include <functional>

#include "engine/settings.h"
#include "files/picture.h"

namespace vellomar {

// The name of the note nearest a frequency, with its deviation ("A4",
// "C#5 +12 ct"); empty where there is none. The default names notes in
// scientific pitch notation with sharps, A4 = 440 Hz; a musical scale's
// own naming (its A4) can take its place.
using NoteNamer = std::function<QString(double hz)>;
QString defaultNoteName(double hz);
void setNoteNamer(NoteNamer namer);
const NoteNamer& noteNamer();

// The time at picture y (rows are y ... y + 1; row r's centre is where the
// render reads it, at r * T / (H - 1)), for a sound of `durationSeconds`.
double timeAt(double y, std::uint32_t height, double durationSeconds);
// The picture y of a time (the inverse of timeAt).
double yOfTime(double seconds, std::uint32_t height, double durationSeconds);

// The status line's text for picture point (x, y): the pixel there, with
// the time and frequency at which the render reads it (its row's and its
// column's centre). Empty outside the picture.
QString readoutText(const PictureBitmap& picture, const RenderSettings& settings, double durationSeconds, double x,
                    double y);

}  // namespace vellomar
