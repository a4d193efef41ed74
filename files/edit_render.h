// SPDX-License-Identifier: GPL-3.0-or-later
// Inside the editing of a recording: the render of a painted picture into
// a 16-bit wave file, once every check has passed.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "engine/result_code.h"
#include "engine/settings.h"
#include "files/edit_setup.h"
#include "files/messages.h"
#include "files/picture.h"
#include "files/wav.h"

namespace vellomar {

// Renders the edit of the recording `input` (a regular file standing at its
// first sample, described by `info`; left open) from the `original` planes
// to the `painted` ones (`picture`'s size and stride) with the editing
// `settings`, into `outputPath` through OutputFile. Returns 0, 111 (nothing
// left behind) or another result with the refusal.
ResultCode renderEditToWave(std::FILE* input, const WaveInfo& info, const RenderSettings& settings,
                            const PictureBitmap& picture, const std::uint8_t* const original[2],
                            const std::uint8_t* const painted[2], const std::string& outputPath,
                            const EditControl& control, Refusal& refusal);

}  // namespace vellomar
