// SPDX-License-Identifier: GPL-3.0-or-later
// "Play selection": the sound of the selection's time-frequency region
// alone. The selected pixels are rendered as a picture of their own, on the
// band their columns span (the render makes every frequency outside a
// chosen band silent, whatever the brightness mapping) and for the time
// their rows span (nothing outside it is rendered at all; a wave source is
// read over that time only). Everything is written in a temporary folder
// of the program's own, never a file of the user's.
#pragma once

#include <QString>
#include <cstdint>

#include "engine/settings.h"
#include "files/audio_input.h"
#include "files/picture.h"
#include "ui/document/picture_planes.h"

namespace vellomar {

struct AuditionPlan {
  PictureBitmap crop;        // the selected pixels
  RenderSettings settings;   // band, duration (noise) and files of the render
  double startSeconds = 0.0;  // where the selection starts in the whole sound
  double seconds = 0.0;       // how long it lasts
};

// Plans the render of `selection` of `picture`, a picture rendered with
// `settings` for `durationSeconds`. False with `reason` (a sentence) when
// the region cannot be played on its own.
bool planAudition(const PictureBitmap& picture, const PixelRect& selection, const RenderSettings& settings,
                  float durationSeconds, AuditionPlan& plan, QString& reason);

// Renders the plan into `folder` as a 16-bit wave, the noise starting from
// `noiseState`; a wave source's input is opened under `rules` (as renders
// open it) and read over the selection's stretch only. Returns the path of
// the sound, or an empty string with `reason`. Touches no window: it may
// run on any thread.
QString renderAudition(AuditionPlan plan, const QString& folder, std::int32_t noiseState, const AudioInputRules& rules,
                       QString& reason);

}  // namespace vellomar
