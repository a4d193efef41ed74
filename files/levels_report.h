// SPDX-License-Identifier: GPL-3.0-or-later
// What a render tells of its level: how many samples it clipped and how to
// avoid it, in the words both front-ends show.
#pragma once

#include <cstdint>
#include <string>

#include "engine/settings.h"

namespace vellomar {

// The largest master gain, in whole dB, under which a render whose peak
// was `peak` at `masterGainDb` stays within the 16-bit range; below
// kMinGainDb when even the least gain clips.
std::int32_t gainAvoidingClips(double peak, std::int32_t masterGainDb);

// Nothing when the render clipped no sample; else "N samples clipped; a
// master gain of X dB would avoid it", or "...; darken the picture to
// avoid it" where no gain the settings allow would.
std::string clippingReport(const RenderLevels& levels, std::int32_t masterGainDb);

}  // namespace vellomar
