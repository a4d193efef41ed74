// One render from the open job to the written file.
#pragma once

#include <cstdint>

#include "engine/result_code.h"
#include "engine/settings.h"

namespace vellomar {

// Renders job.settings and job.picture through `job`, writing sampleCount
// 16-bit samples to job.output. Owns both streams: they are closed before
// it returns. Returns 0, 3, 4, 7, 8, 9, 110 or 111.
//
// The output is cut into runs of whole blocks that job.threads threads
// render at once, each in its own context, and written in order; the file
// is the same, byte for byte, for every thread count. Progress is reported
// before every block in order, on the calling thread; an abort is noticed
// within one hop. job.noiseState is left where the next render continues.
ResultCode renderSound(RenderJob& job);

// Sample k of a hop that fades from signal `from` (the hop's first filter
// column) to `to` (the next one), times the master gain `gain`: t = k / H,
// ((1 - t) from[k] + t to[k]) * gain, in this order for every source.
inline double hopFade(const double* from, const double* to, std::int64_t k, double inverseHop, double gain) {
  const double t = static_cast<double>(k) * inverseHop;
  return ((1.0 - t) * from[k] + t * to[k]) * gain;
}

// One output sample from a gained value: clamped to 32767 above (a value
// that is not a number included) and -32768 below, then v + 0.5 truncated
// toward zero, so -32768 itself never comes out.
std::int16_t toOutputSample(double v);

}  // namespace vellomar
