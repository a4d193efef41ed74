// SPDX-License-Identifier: GPL-3.0-or-later
// Inside the analysis: the tables one analysis reads and none writes (its
// grid, window, calibration and brightness mapping), made once before any
// frame is analysed.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "engine/analysis.h"
#include "engine/result_code.h"
#include "engine/settings.h"

namespace vellomar {
namespace analysis_detail {

constexpr float kOneOver255 = 1.0f / 255.0f;

// The brightness mapping's inverse, set up once.
struct BrightnessMap {
  bool logarithmic = false;
  double inverseSlope = 0.0;  // 1 / alpha of the log mapping; 0 when the range is 0

  explicit BrightnessMap(const RenderSettings& s) : logarithmic(s.logBrightness) {
    if (!logarithmic) return;
    // The gain matrix's own slope, rounded as it rounds it.
    const auto range = static_cast<std::uint32_t>(s.logRangeDb);
    const float ln10 = static_cast<float>(std::log(10.0));
    const float alpha = ln10 / 20.0f * static_cast<float>(range) * kOneOver255;
    inverseSlope = alpha > 0.0f ? 1.0 / static_cast<double>(alpha) : 0.0;
  }

  std::uint8_t operator()(double gain) const {
    if (!(gain > 0.0)) return 0;
    double b = 0.0;
    if (!logarithmic) {
      b = 255.0 * gain;
    } else {
      // A range of 0 makes every brightness the gain 1.
      b = inverseSlope > 0.0 ? 255.0 + std::log(gain) * inverseSlope : 255.0;
    }
    if (!(b > 0.0)) return 0;
    if (b >= 254.5) return 255;
    return static_cast<std::uint8_t>(b + 0.5);
  }
};

// The integral of the hat max(0, 1 - |s|) from -infinity to t.
inline double hatIntegral(double t) {
  if (t <= -1.0) return 0.0;
  if (t <= 0.0) return 0.5 * (t + 1.0) * (t + 1.0);
  if (t <= 1.0) return 1.0 - 0.5 * (1.0 - t) * (1.0 - t);
  return 1.0;
}

// What every context reads and none writes: the grid, the window and the
// calibration of one analysis.
struct AnalysisTables {
  const AnalysisJob* job = nullptr;
  std::int32_t n = 0;      // frame length, the block length N
  std::int32_t bins = 0;   // K = N / 2
  std::int32_t endBin = 0;  // the designed bins end here (K, or the top of a chosen band)
  std::int32_t step = 0;   // frame spacing, N / 4
  std::int32_t firstBin = 0;
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  std::int64_t total = 0;   // samples
  std::int64_t frames = 0;  // frame j is centred on sample j * step, j = 0 .. frames - 1
  bool longRows = false;    // rows span more than two frame spacings
  std::int64_t inputOffset = -1;  // byte offset of the first sample when read by position

  std::vector<double> window;        // N: the design's Hann window
  std::vector<double> windowEnergy;  // N + 1: sums of the squared window up to each sample
  std::vector<double> binFactor;     // K: power to squared gain, for a whole window
  std::vector<float> columnLo;       // W: each column's span in fractional bins
  std::vector<float> columnHi;
  // Sine tones: a column sums its span instead of averaging it.
  bool tones = false;
  BrightnessMap brightness{RenderSettings{}};

  // Row r's span in fractional frames and the frames it reaches.
  void rowSpan(std::int64_t r, double& lo, double& hi) const {
    const double t = static_cast<double>(total);
    if (height == 1) {
      lo = 0.0;
      hi = t / step;
      return;
    }
    const double spacing = t / static_cast<double>(height - 1);
    const double centre = static_cast<double>(r) * spacing;
    lo = std::max(0.0, centre - 0.5 * spacing) / step;
    hi = std::min(t, centre + 0.5 * spacing) / step;
  }
  std::int64_t firstFrame(double lo) const { return std::clamp<std::int64_t>(static_cast<std::int64_t>(std::floor(lo)), 0, frames - 1); }
  std::int64_t lastFrame(double hi) const { return std::clamp<std::int64_t>(static_cast<std::int64_t>(std::ceil(hi)), 0, frames - 1); }
};

// The weight of frame j in a row spanning [lo, hi] frames: the mean over
// the span of the frame's hat (the frames' powers joined by straight lines).
inline double frameWeight(double lo, double hi, std::int64_t j) {
  const double c = static_cast<double>(j);
  if (hi > lo) return (hatIntegral(hi - c) - hatIntegral(lo - c)) / (hi - lo);
  return std::max(0.0, 1.0 - std::fabs(lo - c));
}

// Checks the job and fills `t` for it: 0, 3 (no memory) or 110.
ResultCode makeTables(const AnalysisJob& job, AnalysisTables& t);

}  // namespace analysis_detail
}  // namespace vellomar
