// Inside the column filter design: the long-lived workspace and the first
// half of a design (the zero-phase bin responses), which designColumnFilter
// turns into the filter's spectrum. Exposed for the engine's own tests.
#pragma once

#include <cstdint>
#include <vector>

#include "engine/result_code.h"
#include "engine/settings.h"
#include "fft/buffer.h"

namespace vellomar {

// Buffers that depend only on the block length N. Built on the first
// design after N changes and kept across renders.
struct FilterDesignWorkspace {
  std::int32_t designedBlockLength = -1;  // the N of workBuffer and halfWindow; -1 = none
  FftBuffer workBuffer;                  // 2N; entries N..2N-1 stay zero
  std::vector<double> halfWindow;         // K = N/2: rising half of a Hann window of length N
  std::vector<double> pinkWeights;        // K: -3 dB/octave amplitude tilt, empty until needed
  bool pinkWeightsReady = false;
  std::vector<float> slice;  // one gain per picture column; grows, never shrinks
  // Column positions of the bin edges: edge i is the position of bin
  // i - 0.5, for i = first .. K. They depend only on N, the rate, the scale
  // and the picture width, so they are kept while those stay the same.
  std::vector<float> binEdges;
  std::int32_t edgesBlockLength = -1;
  std::uint32_t edgesSampleRate = 0;
  std::uint32_t edgesWidth = 0;
  FrequencyScale edgesScale = FrequencyScale::Linear;
  std::int32_t edgesFirst = 0;  // bins below it are silent
};

// The process-wide workspace (read-only view for tests).
const FilterDesignWorkspace& designWorkspace();

// float(N) * 16 / float(fs) in single precision: 16 Hz in bins.
float lowestLogPosition(std::int32_t n, std::uint32_t sampleRate);
// ceil(float(N) * 16 / float(fs)) in single precision: the first bin at or
// above 16 Hz.
std::int32_t lowestLogBin(std::int32_t n, std::uint32_t sampleRate);

// Steps of a design up to the inverse transform: readies the workspace,
// averages the picture over the slot of filter column u and over every
// bin's column span, and applies the pink tilt. Writes the K = N/2 designed
// entries of `spectrum` (real part the response, imaginary part zero).
// Returns 0, 3, 9 or 110.
ResultCode designBinResponses(const RenderJob& job, double* spectrum, std::int32_t u, const float* gains);

}  // namespace vellomar
