// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/window_support.h"

namespace vellomar::test {

void resetWindowState() {
  renderSettings = RenderSettings{};
  pictureData = PictureData{};
  randomSeed = kInitialRandomSeed;
  abortRequested = false;
  inputWaveDuration = 0.0f;
  noteChoice = NoteChoice{};
  lastRenderLevels = RenderLevels{};
  fileOptions = SoundFileOptions{};
}

}  // namespace vellomar::test
