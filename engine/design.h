// SPDX-License-Identifier: GPL-3.0-or-later
// The picture becomes filters: the gain matrix and the column filter design.
#pragma once

#include <cstdint>
#include <functional>

#include "engine/result_code.h"
#include "engine/settings.h"

namespace vellomar {

struct RenderContext;

// Longest picture side, in pixels, that the design can address: row and
// column positions are single precision, exact only up to 2^24.
inline constexpr std::uint32_t kMaxPictureSide = 1u << 24;

// The gain of every brightness byte under the settings' mapping
// (logBrightness, logRangeDb): table[v] for byte v, 256 entries. For sine
// tones brightness 0 is gain 0 under both mappings.
void buildGainTable(const RenderSettings& settings, float* table);

// Fills gains[r * W + x] (row 0 = top row of the picture) from `picture`
// and the settings' brightness mapping, through buildGainTable. Does
// nothing without a picture. A large picture is built in bands of rows on
// up to `threads` threads (0: every core this process may use), the
// calling thread among them, and on fewer when threads cannot start; the
// bytes are the same for every count. `progress`, when given, is told the
// thousandths of the rows built, on the calling thread, ending with 1000.
void buildGainMatrix(const PictureData& picture, const RenderSettings& settings, float* gains,
                     std::int32_t threads = 1, const std::function<void(int)>& progress = {});

// Mean over [a, b] of the piecewise-linear function through
// (i, v[i * stride]). Needs 0 <= floor(a) and ceil(b) <= last index.
double intervalMean(float a, float b, const float* v, std::int64_t stride);

// The gains of every picture column over the time slot of filter column u
// of `job` (the slot the filter's time span covers), as the design reads
// them: slice[x] is the mean of column x of `gains` over the slot's rows.
// Writes the picture's width of floats; `interior` holds as many of
// scratch. Returns 0, 9 or 110 (no picture or no gains).
ResultCode slotColumnGains(const RenderJob& job, const float* gains, std::int32_t u, float* slice, float* interior);

// Designs the filter of filter column u of the context's job into
// `spectrum` (N complex entries, the 2N-point spectrum of an N-tap filter
// centred on tap N/2). Of the job it reads the settings, the picture, the
// sample count and the context's gain matrix. Returns 0, 9 or 110 (no
// picture, a picture side beyond kMaxPictureSide, an unknown scale, or a
// context that is not configured).
ResultCode designColumnFilter(RenderContext& context, double* spectrum, std::int32_t u);

}  // namespace vellomar
