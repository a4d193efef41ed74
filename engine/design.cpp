// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/design.h"

#include <algorithm>
#include <cmath>
#include <new>

#include "engine/context.h"
#include "engine/design_internal.h"
#include "engine/row_span.h"
#include "engine/scales.h"
#include "engine/span.h"

namespace vellomar {
namespace {

constexpr double kTwoPi = 6.283185307179586;

// Amplitude 4 up to bin n (16 Hz), then falling as 1/sqrt(k).
void fillPinkWeights(std::vector<double>& weights, std::int32_t lowBin) {
  const std::size_t k = weights.size();
  const auto low = static_cast<std::size_t>(lowBin);
  const double top = 4.0 * std::sqrt(static_cast<double>(lowBin));
  for (std::size_t i = low; i < k; ++i) weights[i] = top / std::sqrt(static_cast<double>(i));
  for (std::size_t i = 0; i < low; ++i) weights[i] = weights[low];
}

// Bins over which a chosen band's response rises from its edges: the
// filter's Hann window spreads every bin over two bins either side, and
// its first side lobes over one more; rising over these, the filter's
// roll-off stays within the band instead of straddling its edge.
constexpr double kEdgeRampBins = 3.0;

// Positions of the edges of bins first .. end - 1 over a chosen band, by
// the scale's warp between the band's ends (`band`, for the length W - 1):
// the bins whose centre lies within the band, every other bin silent. At
// a band edge with sound beyond it (above 0 Hz, below half the rate) the
// bins' weights rise from 0 at the edge to 1 three bins within.
void computeBandEdges(FilterDesignWorkspace& ws, std::int32_t n, std::uint32_t fs, const ScaleMapping& band) {
  const std::int32_t k = n / 2;
  const float binHz = static_cast<float>(fs) / static_cast<float>(n);
  // The band's ends in bins, compared as floats before any conversion, so
  // that no end far outside the bins can overflow an integer.
  const float lowBin = static_cast<float>(n) * band.fLow / static_cast<float>(fs);
  const float highBin = static_cast<float>(n) * band.fHigh / static_cast<float>(fs);
  std::int32_t first = 0;
  std::int32_t end = 0;
  if (band.fLow < band.fHigh && std::isfinite(lowBin) && std::isfinite(highBin)) {
    first = lowBin <= 0.0f ? 0 : lowBin >= static_cast<float>(k) ? k : static_cast<std::int32_t>(std::ceil(lowBin));
    end = highBin < 0.0f                     ? 0
          : highBin >= static_cast<float>(k) ? k
                                             : static_cast<std::int32_t>(std::floor(highBin)) + 1;
    if (end < first) end = first;
  }
  ws.binEdges.resize(static_cast<std::size_t>(end - first + 1));
  for (std::int32_t i = first; i <= end; ++i) {
    const float pos = band.position((static_cast<float>(i) - 0.5f) * binHz);
    // A band bin's edges lie within the band but for the outer half of the
    // first and last bins; rounding must not carry one past the last column.
    ws.binEdges[static_cast<std::size_t>(i - first)] = pos < band.length ? pos : band.length;
  }
  ws.edgesFirst = first;
  ws.edgesEnd = end;

  const bool rampLow = band.fLow > 0.0f;
  const bool rampHigh = band.fHigh < static_cast<float>(k) * binHz;
  ws.edgeWeights.assign(static_cast<std::size_t>(end - first), 1.0);
  for (std::int32_t i = first; i < end; ++i) {
    const double centre = static_cast<double>(i) * static_cast<double>(binHz);
    double weight = 1.0;
    if (rampLow) weight *= std::min(1.0, (centre - band.fLow) / binHz / kEdgeRampBins);
    if (rampHigh) weight *= std::min(1.0, (band.fHigh - centre) / binHz / kEdgeRampBins);
    ws.edgeWeights[static_cast<std::size_t>(i - first)] = std::max(0.0, weight);
  }
}

// Positions of the bin edges on the scale, for the length W - 1: position
// 0 is the lowest frequency of the scale's band, W - 1 its highest. False
// for an unknown scale (no edges).
//
// The scale's own band keeps its own arithmetic: bin-number logarithms on
// the Logarithmic scale, the warp of bin frequencies on the Mel scale.
bool computeBinEdges(FilterDesignWorkspace& ws, const RenderSettings& s, std::uint32_t width, float q,
                     std::int32_t lowBin) {
  const std::int32_t n = s.blockLength;
  const std::uint32_t fs = s.sampleRate;
  const FrequencyScale scale = s.frequencyScale;
  const std::int32_t k = n / 2;
  const float binHz = static_cast<float>(fs) / static_cast<float>(n);
  const float lastColumn = static_cast<float>(width - 1);
  const bool known =
      scale == FrequencyScale::Linear || scale == FrequencyScale::Logarithmic || scale == FrequencyScale::Mel;
  if (known && !isOwnBand(s)) {
    computeBandEdges(ws, n, fs, pictureMapping(s, lastColumn));
    return true;
  }
  std::int32_t first = 0;
  float a = 0.0f;
  float b = 0.0f;
  float (*pos)(float bin, float a, float b, float binHz) = nullptr;
  switch (scale) {
    case FrequencyScale::Linear:
      a = lastColumn / static_cast<float>(k);
      pos = [](float bin, float a, float, float) { return bin * a; };
      break;
    case FrequencyScale::Logarithmic: {
      first = lowBin;
      const float lnK = static_cast<float>(std::log(static_cast<double>(k)));
      const float lnQ = static_cast<float>(std::log(static_cast<double>(q)));
      a = lastColumn / (lnK - lnQ);
      b = -(lnQ * a);
      pos = [](float bin, float a, float b, float) {
        return static_cast<float>(std::log(static_cast<double>(bin))) * a + b;
      };
      break;
    }
    case FrequencyScale::Mel: {
      first = lowBin;
      const float fLow = binHz * q;
      const float fHigh = static_cast<float>(k) * binHz;
      const float wLow = melWarp(fLow);
      a = lastColumn / (melWarp(fHigh) - wLow);
      b = -(wLow * a);
      pos = [](float bin, float a, float b, float binHz) { return melWarp(bin * binHz) * a + b; };
      break;
    }
    default:
      ws.binEdges.clear();
      return false;
  }
  ws.binEdges.resize(static_cast<std::size_t>(k - first + 1));
  // Bin i spans the edges i - 0.5 and i + 0.5; (i + 1) - 0.5 is the same
  // float as i + 0.5, so neighbouring bins share an edge exactly.
  for (std::int32_t i = first; i <= k; ++i) {
    ws.binEdges[static_cast<std::size_t>(i - first)] = pos(static_cast<float>(i) - 0.5f, a, b, binHz);
  }
  ws.edgesFirst = first;
  ws.edgesEnd = k;
  return true;
}

// The span each bin averages, from its edges clamped into the picture
// (a one-column picture needs none: every bin takes that column).
void computeBinWeights(FilterDesignWorkspace& ws, std::uint32_t width) {
  if (width == 1) return;
  const std::int32_t first = ws.edgesFirst;
  const std::int32_t end = ws.edgesEnd;
  const float* edge = ws.binEdges.data();
  const float posCeiling = static_cast<float>(width) - 1.001f;
  ws.binWeights.resize(static_cast<std::size_t>(end - first));
  for (std::int32_t i = first; i < end; ++i) {
    float posLo = edge[i - first];
    float posHi = edge[i - first + 1];
    if (!(posHi < posCeiling)) posHi = posCeiling;
    if (!(posLo > 0.001f)) posLo = 0.001f;
    ws.binWeights[static_cast<std::size_t>(i - first)] = spanWeights(posLo, posHi);
  }
}

}  // namespace

float lowestLogPosition(std::int32_t n, std::uint32_t sampleRate) {
  return static_cast<float>(n) * 16.0f / static_cast<float>(sampleRate);
}

std::int32_t lowestLogBin(std::int32_t n, std::uint32_t sampleRate) {
  return static_cast<std::int32_t>(std::ceil(lowestLogPosition(n, sampleRate)));
}

ResultCode prepareDesignWorkspace(FilterDesignWorkspace& ws, const RenderJob& job) {
  const RenderSettings& s = job.settings;
  const std::int32_t n = s.blockLength;
  if (n < 4 || (n & (n - 1)) != 0) return kResultInternal;
  const auto un = static_cast<std::size_t>(n);
  const std::size_t k = un / 2;
  const std::uint32_t fs = s.sampleRate;
  const float q = fs == 0 ? 0.0f : lowestLogPosition(n, fs);
  // The scales need 16 Hz to lie below the top bin (fs is 44100 in every
  // render, so this only guards a corrupted rate).
  if (fs == 0 || !(q <= static_cast<float>(k - 1))) return kResultInternal;
  const std::int32_t lowBin = lowestLogBin(n, fs);
  const PictureData& pic = job.picture;
  const bool pictureUsable = pic.width != 0 && pic.height != 0 && pic.pixels != nullptr &&
                             pic.width <= kMaxPictureSide && pic.height <= kMaxPictureSide;
  try {
    ws = FilterDesignWorkspace{};
    ws.workBuffer.assign(2 * un, 0.0);
    ws.halfWindow.resize(k);
    if (s.inputSource == InputSource::PinkNoise) {
      ws.pinkWeights.resize(k);
      fillPinkWeights(ws.pinkWeights, lowBin);
    }
    if (pictureUsable) {
      ws.slice.resize(pic.width);
      ws.interior.resize(pic.width);
      if (computeBinEdges(ws, s, pic.width, q, lowBin)) computeBinWeights(ws, pic.width);
    }
  } catch (const std::bad_alloc&) {
    ws = FilterDesignWorkspace{};
    return kResultNoMemory;
  }
  for (std::size_t i = 0; i < k; ++i) {
    ws.halfWindow[i] = (1.0 - std::cos((static_cast<double>(i) + 0.5) * kTwoPi / static_cast<double>(n))) / 2.0;
  }
  return kResultOk;
}

double intervalMean(float a, float b, const float* v, std::int64_t stride) {
  return applySpan(spanWeights(a, b), v, stride);
}

ResultCode slotColumnGains(const RenderJob& job, const float* gains, std::int32_t u, float* slice, float* interior) {
  const RenderSettings& s = job.settings;
  const PictureData& pic = job.picture;
  const std::int32_t n = s.blockLength;
  if (pic.width == 0 || pic.height == 0 || !gains || n < 1) return kResultInternal;
  const std::uint32_t width = pic.width;
  const std::uint32_t height = pic.height;

  if (height == 1) {
    // One row: the same spectrum for the whole sound.
    for (std::uint32_t x = 0; x < width; ++x) slice[x] = gains[x];
  } else {
    float lo = 0.0f;
    float hi = 0.0f;
    const ResultCode slot = columnSlot(s, job.sampleCount, height, u, lo, hi);
    if (slot != kResultOk) return slot;
    applySpanDownColumns(spanWeights(lo, hi), gains, width, slice, interior);
  }
  return kResultOk;
}

ResultCode designBinResponses(RenderContext& context, double* spectrum, std::int32_t u) {
  const RenderJob* job = context.job;
  if (!job || context.blockLength == 0) return kResultInternal;
  const std::int32_t n = context.blockLength;
  const std::int32_t k = n / 2;
  FilterDesignWorkspace& ws = context.design;

  const PictureData& pic = job->picture;
  const float* gains = context.gains;
  if (pic.height == 0 || pic.width == 0 || !pic.pixels || !gains) return kResultInternal;
  if (pic.height > kMaxPictureSide || pic.width > kMaxPictureSide) return kResultInternal;
  if (ws.slice.size() < pic.width) return kResultInternal;  // made for another picture
  const std::uint32_t width = pic.width;
  float* slice = ws.slice.data();
  const ResultCode sliced = slotColumnGains(*job, gains, u, slice, ws.interior.data());
  if (sliced != kResultOk) return sliced;

  // An unknown scale has no bin edges.
  if (ws.binEdges.empty()) return kResultInternal;
  const std::int32_t first = ws.edgesFirst;
  const std::int32_t end = ws.edgesEnd;
  if (first < 0 || end > k || end < first || ws.binEdges.size() != static_cast<std::size_t>(end - first + 1)) {
    return kResultInternal;
  }
  const double* edgeWeights = ws.edgeWeights.empty() ? nullptr : ws.edgeWeights.data();
  if (edgeWeights && ws.edgeWeights.size() != static_cast<std::size_t>(end - first)) return kResultInternal;
  if (width == 1) {
    // One column: every bin gets its gain.
    for (std::int32_t i = first; i < end; ++i) spectrum[2 * i] = static_cast<double>(slice[0]);
  } else {
    if (ws.binWeights.size() != static_cast<std::size_t>(end - first)) return kResultInternal;
    const SpanWeights* spans = ws.binWeights.data();
    for (std::int32_t i = first; i < end; ++i) spectrum[2 * i] = applySpan(spans[i - first], slice, 1);
  }
  for (std::int32_t i = first; i < end; ++i) {
    if (edgeWeights) spectrum[2 * i] *= edgeWeights[i - first];
    spectrum[2 * i + 1] = 0.0;
  }
  // Below the band (below 16 Hz on the warped scales) and above it: silent.
  for (std::int32_t i = 0; i < first; ++i) {
    spectrum[2 * i] = 0.0;
    spectrum[2 * i + 1] = 0.0;
  }
  for (std::int32_t i = end; i < k; ++i) {
    spectrum[2 * i] = 0.0;
    spectrum[2 * i + 1] = 0.0;
  }

  if (!ws.pinkWeights.empty()) {
    const double* weights = ws.pinkWeights.data();
    for (std::int32_t i = 0; i < k; ++i) {
      spectrum[2 * i] *= weights[i];
      spectrum[2 * i + 1] *= weights[i];
    }
  }
  return kResultOk;
}

ResultCode designColumnFilter(RenderContext& context, double* spectrum, std::int32_t u) {
  const std::int32_t n = context.blockLength;
  // The responses go straight into the inverse transform's input.
  double* responses = context.fft.inverseInput(n);
  if (!responses) return kResultInternal;
  const ResultCode result = designBinResponses(context, responses, u);
  if (result != kResultOk) return result;

  const std::int32_t k = n / 2;
  double* work = context.design.workBuffer.data();
  const double* window = context.design.halfWindow.data();

  // Zero-phase impulse response, centred on index 0.
  context.fft.inverseFromInput(work, n);
  // Rotate by half a block so the peak sits at N/2, and taper with a Hann
  // window of length N.
  for (std::int32_t i = 0; i < k; ++i) {
    const double t = work[i];
    work[i] = window[i] * work[i + k];
    work[i + k] = t * window[k - 1 - i];
  }
  // N taps followed by the N zeros the upper half always holds.
  context.fft.forward(work, spectrum, 2 * n);
  return kResultOk;
}

}  // namespace vellomar
