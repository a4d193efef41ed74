// SPDX-License-Identifier: GPL-3.0-or-later
// Inside the column filter design: readying its workspace and the first
// half of a design (the zero-phase bin responses), which designColumnFilter
// turns into the filter's spectrum. Exposed for the engine's own tests.
#pragma once

#include <cstdint>

#include "engine/result_code.h"
#include "engine/settings.h"

namespace vellomar {

struct FilterDesignWorkspace;
struct RenderContext;

// Makes the workspace for the job's block length, scale and band, source
// and picture width: the work area, the window, the pink table (pink noise
// only), the slice and the bin edges (none for an unknown scale, which the
// design then refuses). Returns 0, 3 or 110 (a rate that puts 16 Hz at or
// above the top bin).
ResultCode prepareDesignWorkspace(FilterDesignWorkspace& workspace, const RenderJob& job);

// float(N) * 16 / float(fs) in single precision: 16 Hz in bins.
float lowestLogPosition(std::int32_t n, std::uint32_t sampleRate);
// ceil(float(N) * 16 / float(fs)) in single precision: the first bin at or
// above 16 Hz.
std::int32_t lowestLogBin(std::int32_t n, std::uint32_t sampleRate);

// Steps of a design up to the inverse transform: averages the picture over
// the slot of filter column u and over every bin's column span, and applies
// the pink tilt. Writes the K = N/2 designed entries of `spectrum` (real
// part the response, imaginary part zero). Returns 0, 9 or 110.
ResultCode designBinResponses(RenderContext& context, double* spectrum, std::int32_t u);

}  // namespace vellomar
