// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/common/app_state.h"

namespace vellomar {

RenderSettings renderSettings;
PictureData pictureData;
std::int32_t randomSeed = kInitialRandomSeed;
std::atomic<bool> abortRequested{false};
float inputWaveDuration = 0.0f;
NoteChoice noteChoice;
RenderLevels lastRenderLevels;
SoundFileOptions fileOptions;

}  // namespace vellomar
