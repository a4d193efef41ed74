// The picture becomes filters: the gain matrix and the column filter design.
#pragma once

#include <cstdint>

#include "engine/result_code.h"
#include "engine/settings.h"

namespace vellomar {

// Longest picture side, in pixels, that the design can address: row and
// column positions are single precision, exact only up to 2^24.
inline constexpr std::uint32_t kMaxPictureSide = 1u << 24;

// Fills gains[r * W + x] (row 0 = top row of the picture) from pictureData,
// renderSettings.logBrightness and logRangeDb. Does nothing without a picture.
void buildGainMatrix(float* gains);

// Mean over [a, b] of the piecewise-linear function through
// (i, v[i * stride]). Needs 0 <= floor(a) and ceil(b) <= last index.
double intervalMean(float a, float b, const float* v, std::int64_t stride);

// Designs the filter of filter column u into `spectrum` (N complex entries,
// the 2N-point spectrum of an N-tap filter centred on tap N/2). Reads only
// job.sampleCount of the job. Returns 0, 3, 9 or 110 (also for a picture
// side beyond kMaxPictureSide).
ResultCode designColumnFilter(const RenderJob& job, double* spectrum, std::int32_t u, const float* gains);

// Drops the process-wide design workspace (tests and the end of the program).
void releaseDesignWorkspace();

}  // namespace vellomar
