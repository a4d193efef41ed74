// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/analysis_tables.h"

#include <algorithm>
#include <new>
#include <vector>

#include "engine/context.h"
#include "engine/design.h"
#include "engine/design_internal.h"
#include "engine/sine.h"
#include "engine/source.h"

namespace vellomar {
namespace analysis_detail {
namespace {

// A fractional bin for a column position: bin i + 0.5 at the edge between
// bins i and i + 1, straight between edges, held within the designed bins
// first ... end - 1.
float binAtPosition(const std::vector<float>& edges, std::int32_t first, std::int32_t end, float position) {
  const auto above = std::upper_bound(edges.begin(), edges.end(), position);
  float bin;
  if (above == edges.begin()) {
    bin = static_cast<float>(first);
  } else if (above == edges.end()) {
    bin = static_cast<float>(end - 1);
  } else {
    const auto i = static_cast<std::int32_t>(above - edges.begin()) - 1;
    const float e0 = edges[static_cast<std::size_t>(i)];
    const float e1 = *above;
    const float fraction = e1 > e0 ? (position - e0) / (e1 - e0) : 0.0f;
    bin = static_cast<float>(first + i) - 0.5f + fraction;
  }
  return std::clamp(bin, static_cast<float>(first), static_cast<float>(end - 1));
}

// Sine tones (see the header): column x spans the two bins either side of
// its tone's frequency, the main lobe of the frame's window, and every bin
// turns power into squared gain at the tones' own level.
ResultCode makeToneTables(AnalysisTables& t, const RenderSettings& s) {
  const double level = sineLevel(s, t.width);
  if (!(level > 0.0)) return kResultInternal;
  const double g = masterGainFactor(s.masterGainDb);
  const double n = static_cast<double>(t.n);
  t.tones = true;
  // The lobes of the tones at a band's ends reach past it.
  t.firstBin = 0;
  std::fill(t.binFactor.begin(), t.binFactor.end(), 4.0 * n / (t.windowEnergy[static_cast<std::size_t>(t.n)] * level * level * g * g));
  const double binHz = static_cast<double>(s.sampleRate) / n;
  const double top = static_cast<double>(t.bins - 1);
  for (std::uint32_t x = 0; x < t.width; ++x) {
    const double hz = sineColumnFrequency(s, t.width, x);
    const bool sounds = hz > 0.0 && hz < 0.5 * static_cast<double>(s.sampleRate);
    const double bin = hz / binHz;
    t.columnLo[x] = sounds ? static_cast<float>(std::clamp(bin - 2.0, 0.0, top)) : 0.0f;
    t.columnHi[x] = sounds ? static_cast<float>(std::clamp(bin + 2.0, 0.0, top)) : 0.0f;
  }
  return kResultOk;
}

}  // namespace

ResultCode makeTables(const AnalysisJob& job, AnalysisTables& t) {
  const RenderSettings& s = job.settings;
  const std::int32_t n = s.blockLength;
  const std::int32_t sub = s.subBlocksPerBlock;
  if (!isPowerOfTwo(n) || n < 4 || n > (1 << 29) || sub < 1 || sub > n || n % sub != 0) return kResultInternal;
  if (job.width == 0 || job.height == 0 || job.width > kMaxPictureSide || job.height > kMaxPictureSide ||
      !job.pixels || job.stride < job.width || job.channels < 1 || job.channels > 2 || job.channel < 0 ||
      job.channel >= job.channels) {
    return kResultInternal;
  }
  t.job = &job;
  t.n = n;
  t.bins = n / 2;
  t.step = n / 4;
  t.width = job.width;
  t.height = job.height;
  t.total = job.sampleCount;
  t.frames = (t.total + t.step - 1) / t.step + 1;
  t.brightness = BrightnessMap(s);
  if (job.height == 1) {
    t.longRows = true;
  } else {
    const double spacing = static_cast<double>(t.total) / static_cast<double>(job.height - 1);
    t.longRows = spacing > 2.0 * t.step;
  }

  // The design's own tables for a picture of this width: its window, its
  // pink tilt and its bin edges. It reads nothing of the picture here but
  // its width.
  FilterDesignWorkspace design;
  RenderJob asDesigned;
  asDesigned.settings = s;
  asDesigned.picture = PictureData{job.pixels, job.width, job.stride, job.height};
  const ResultCode prepared = prepareDesignWorkspace(design, asDesigned);
  if (prepared != kResultOk) return prepared;
  if (design.binEdges.empty()) return kResultInternal;  // an unknown scale
  t.firstBin = design.edgesFirst;
  // Bins from edgesEnd on lie above a chosen band: silent in the render.
  t.endBin = design.edgesEnd;
  if (t.endBin <= t.firstBin) return kResultInternal;

  const auto un = static_cast<std::size_t>(n);
  const auto k = static_cast<std::size_t>(t.bins);
  try {
    t.window.resize(un);
    t.windowEnergy.resize(un + 1);
    t.binFactor.assign(k, 0.0);
    t.columnLo.resize(job.width);
    t.columnHi.resize(job.width);
  } catch (const std::bad_alloc&) {
    return kResultNoMemory;
  }
  for (std::size_t m = 0; m < k; ++m) {
    t.window[m] = design.halfWindow[m];
    t.window[un - 1 - m] = design.halfWindow[m];
  }
  t.windowEnergy[0] = 0.0;
  for (std::size_t m = 0; m < un; ++m) t.windowEnergy[m + 1] = t.windowEnergy[m] + t.window[m] * t.window[m];

  // |Y_k|^2 * 4 N^2 / (sigma^2 g^2 p_k^2 sum(w^2)): see the header.
  const double g = masterGainFactor(s.masterGainDb);
  const double base = 4.0 * static_cast<double>(n) * static_cast<double>(n) /
                      (noiseMeanSquare() * g * g * t.windowEnergy[un]);
  for (std::size_t i = static_cast<std::size_t>(t.firstBin); i < k; ++i) {
    const double tilt = design.pinkWeights.empty() ? 1.0 : design.pinkWeights[i];
    t.binFactor[i] = base / (tilt * tilt);
  }

  const float last = static_cast<float>(job.width - 1);
  for (std::uint32_t x = 0; x < job.width; ++x) {
    if (job.width == 1) {
      t.columnLo[x] = static_cast<float>(t.firstBin);
      t.columnHi[x] = static_cast<float>(t.endBin - 1);
      continue;
    }
    const float p0 = std::max(0.0f, static_cast<float>(x) - 0.5f);
    const float p1 = std::min(last, static_cast<float>(x) + 0.5f);
    t.columnLo[x] = binAtPosition(design.binEdges, t.firstBin, t.endBin, p0);
    t.columnHi[x] = binAtPosition(design.binEdges, t.firstBin, t.endBin, p1);
  }
  if (s.inputSource == InputSource::SineTones) return makeToneTables(t, s);
  return kResultOk;
}

}  // namespace analysis_detail
}  // namespace vellomar
