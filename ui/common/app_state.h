// SPDX-License-Identifier: GPL-3.0-or-later
// What the window keeps for the run of the program besides its controls:
// the settings, the picture, the noise generator's state, the abort flag
// and the input file's duration. The window and its settings controls are
// their only writers; a render gets a copy of them through its job.
#pragma once

#include <atomic>
#include <cstdint>

#include "engine/settings.h"
#include "files/render_setup.h"

namespace vellomar {

extern RenderSettings renderSettings;
extern PictureData pictureData;          // points into the preview's bitmap
extern std::int32_t randomSeed;          // where the next noise render starts
extern std::atomic<bool> abortRequested;  // set by the progress dialog, read by the render
extern float inputWaveDuration;          // seconds; 0 = no usable input file
// How the input is read (the classic reader unless any audio is chosen in
// the Options) and the output's format and rate.
extern SoundFileOptions fileOptions;

// The notes the Options dialog last put the picture's columns on, and
// whether the frequency axis and the template name notes instead of hertz
// (on the Logarithmic scale).
struct NoteChoice {
  int lowest = 33;   // A1
  int highest = 117;  // A8
  double a4Hz = 440.0;
  int columnsPerSemitone = 1;
  bool namesOnAxis = false;
};
extern NoteChoice noteChoice;

// What the last render that completed tells of its level.
extern RenderLevels lastRenderLevels;

}  // namespace vellomar
