// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/spectral_edit_grid.h"

#include <algorithm>
#include <cmath>
#include <new>

#include "engine/design.h"
#include "engine/scales.h"
#include "engine/source.h"

namespace vellomar {
namespace {

constexpr double kTwoPi = 6.283185307179586;
// A pixel painted this many steps (about 12 dB) above the original asks for
// more than the original's own content can give: its cells are
// synthesised.
constexpr int kSynthesisBoostSteps = 8;
// The magnitude of a full-scale 16-bit sine in one bin of a frame under a
// Hann window, the forward transform divided by N: 32768 / 4.
constexpr double kFullScaleSineMagnitude = 8192.0;

// The analysis's Hann window: (1 - cos(2 pi (m + 0.5) / N)) / 2.
double hann(std::int32_t m, std::int32_t n) {
  return (1.0 - std::cos(kTwoPi * (static_cast<double>(m) + 0.5) / static_cast<double>(n))) / 2.0;
}

double windowEnergy(std::int32_t n) {
  double sum = 0.0;
  for (std::int32_t m = 0; m < n; ++m) sum += hann(m, n) * hann(m, n);
  return sum;
}

double magnitudeAtGainDb(std::int32_t n, std::int32_t gainDb) {
  return std::sqrt(noiseMeanSquare()) * masterGainFactor(gainDb) * std::sqrt(windowEnergy(n)) /
         (2.0 * static_cast<double>(n));
}

// The log mapping's slope per brightness step, rounded as the analysis and
// the gain matrix round it.
double brightnessSlope(std::int32_t rangeDb) {
  const float ln10 = static_cast<float>(std::log(10.0));
  return static_cast<double>(ln10 / 20.0f * static_cast<float>(static_cast<std::uint32_t>(rangeDb)) *
                             (1.0f / 255.0f));
}

// Column positions of the edges of bin k and the picture's column spans.
ResultCode makeBinWeights(const SpectralEditJob& job, EditGrid& g) {
  const RenderSettings& s = job.settings;
  const std::uint32_t w = job.width;
  const ScaleMapping mapping = pictureMapping(s, static_cast<float>(std::max<std::uint32_t>(w, 2) - 1));
  const double binHz = static_cast<double>(s.sampleRate) / static_cast<double>(g.n);
  // Column x covers positions x - 0.5 ... x + 0.5; a one-column picture
  // covers its whole band.
  const double left = w == 1 ? 0.0 : -0.5;
  const double right = w == 1 ? 1.0 : static_cast<double>(w) - 0.5;
  g.binStart.assign(static_cast<std::size_t>(g.bins) + 1, 0);
  g.binColumn.clear();
  g.binWeight.clear();
  g.binColumn.reserve(static_cast<std::size_t>(g.bins) + w + 16);
  g.binWeight.reserve(static_cast<std::size_t>(g.bins) + w + 16);
  const float lowest = s.frequencyScale == FrequencyScale::Logarithmic ? 1e-3f : 0.0f;
  for (std::int32_t k = 0; k < g.bins; ++k) {
    g.binStart[static_cast<std::size_t>(k)] = static_cast<std::int32_t>(g.binColumn.size());
    const float f0 = std::max(lowest, static_cast<float>((k - 0.5) * binHz));
    const float f1 = static_cast<float>((k + 0.5) * binHz);
    const double p0 = mapping.position(f0);
    const double p1 = mapping.position(f1);
    if (!(p1 > p0)) continue;
    const double lo = std::max(p0, left);
    const double hi = std::min(p1, right);
    if (!(hi > lo)) continue;
    const double width = p1 - p0;
    const auto first = static_cast<std::int64_t>(std::floor(w == 1 ? 0.0 : lo + 0.5));
    const auto last = static_cast<std::int64_t>(std::floor(w == 1 ? 0.0 : hi + 0.5));
    for (std::int64_t x = std::max<std::int64_t>(first, 0); x <= std::min<std::int64_t>(last, w - 1); ++x) {
      const double c0 = w == 1 ? left : static_cast<double>(x) - 0.5;
      const double c1 = w == 1 ? right : static_cast<double>(x) + 0.5;
      const double overlap = std::min(hi, c1) - std::max(lo, c0);
      if (overlap <= 0.0) continue;
      g.binColumn.push_back(static_cast<std::uint32_t>(x));
      g.binWeight.push_back(overlap / width);
    }
  }
  g.binStart[static_cast<std::size_t>(g.bins)] = static_cast<std::int32_t>(g.binColumn.size());
  return kResultOk;
}

// For each column x, the first bin that takes a column at or beyond x
// (binsFrom) and one past the last that takes a column at or before it
// (binsTo).
void makeBinRanges(EditGrid& g) {
  const std::size_t w = g.job->width;
  g.binsFrom.assign(w, g.bins);
  g.binsTo.assign(w, 0);
  for (std::int32_t k = 0; k < g.bins; ++k) {
    const auto from = static_cast<std::size_t>(g.binStart[static_cast<std::size_t>(k)]);
    const auto to = static_cast<std::size_t>(g.binStart[static_cast<std::size_t>(k) + 1]);
    if (from == to) continue;
    std::int32_t& first = g.binsFrom[g.binColumn[to - 1]];
    first = std::min(first, k);
    std::int32_t& end = g.binsTo[g.binColumn[from]];
    end = std::max(end, k + 1);
  }
  for (std::size_t x = w - 1; x-- > 0;) g.binsFrom[x] = std::min(g.binsFrom[x], g.binsFrom[x + 1]);
  for (std::size_t x = 1; x < w; ++x) g.binsTo[x] = std::max(g.binsTo[x], g.binsTo[x - 1]);
}

// The rows of `channel` that were painted, the columns each painted, and
// whether any of its pixels asks for synthesis.
void markEditedRows(const SpectralEditJob& job, std::int32_t c, EditGrid& g) {
  g.rowEdited[c].assign(job.height, 0);
  g.rowSpan[c].assign(2 * static_cast<std::size_t>(job.height), 0);
  for (std::uint32_t r = 0; r < job.height; ++r) {
    const std::size_t at = static_cast<std::size_t>(job.height - 1 - r) * job.stride;
    const std::uint8_t* a = job.planes[c].original + at;
    const std::uint8_t* b = job.planes[c].edited + at;
    std::uint32_t first = 0;
    while (first < job.width && a[first] == b[first]) ++first;
    if (first == job.width) continue;
    std::uint32_t end = job.width;
    while (a[end - 1] == b[end - 1]) --end;
    std::uint8_t flags = EditGrid::kRowEdited;
    for (std::uint32_t x = first; x < end; ++x) {
      if (a[x] != b[x] && (a[x] == 0 || b[x] - a[x] >= kSynthesisBoostSteps)) flags |= EditGrid::kRowSynthesised;
    }
    g.rowEdited[c][r] = flags;
    g.rowSpan[c][2 * static_cast<std::size_t>(r)] = first;
    g.rowSpan[c][2 * static_cast<std::size_t>(r) + 1] = end;
  }
}

bool planesUsable(const SpectralEditJob& job) {
  for (std::int32_t c = 0; c < job.channels; ++c) {
    if (!job.planes[c].original || !job.planes[c].edited) return false;
  }
  return true;
}

}  // namespace

std::int32_t editBlockLength(std::uint32_t sampleRate) {
  if (sampleRate == 0) return kEditBlockLength;
  const double ideal = static_cast<double>(kEditBlockLength) * sampleRate / 44100.0;
  const int power = static_cast<int>(std::lround(std::log2(ideal)));
  return std::int32_t{1} << std::clamp(power, 10, 14);
}

RenderSettings editingSettings(const RenderSettings& grid) {
  RenderSettings s = grid;
  s.inputSource = InputSource::WaveFile;
  s.logBrightness = true;
  s.logRangeDb = kEditRangeDb;
  s.subBlocksPerBlock = 4;
  if (!isPowerOfTwo(s.blockLength) || s.blockLength < 16) s.blockLength = editBlockLength(s.sampleRate);
  std::int32_t db = 0;
  while (db < 200 && magnitudeAtGainDb(s.blockLength, db) < kFullScaleSineMagnitude) ++db;
  s.masterGainDb = db;
  return s;
}

double editReferenceMagnitude(const RenderSettings& editing) {
  return magnitudeAtGainDb(editing.blockLength, editing.masterGainDb);
}

std::int32_t EditGrid::frameRows(std::int64_t j, std::uint32_t* rows, double* shares) const {
  const std::uint32_t height = job->height;
  if (rowSpacing <= 0.0) {
    rows[0] = 0;
    shares[0] = 1.0;
    return 1;
  }
  const double centre = std::clamp(static_cast<double>(frameStart(j) + n / 2), 0.0, static_cast<double>(total));
  const double lo = centre - 0.5 * hop;
  const double hi = centre + 0.5 * hop;
  const auto first = std::max<std::int64_t>(0, static_cast<std::int64_t>(std::ceil(lo / rowSpacing - 0.5)));
  const auto last =
      std::min<std::int64_t>(height - 1, static_cast<std::int64_t>(std::floor(hi / rowSpacing + 0.5)));
  std::int32_t count = 0;
  for (std::int64_t r = first; r <= last && count < maxRowsPerFrame; ++r) {
    const double r0 = (static_cast<double>(r) - 0.5) * rowSpacing;
    const double r1 = (static_cast<double>(r) + 0.5) * rowSpacing;
    const double overlap = std::min(hi, r1) - std::max(lo, r0);
    if (overlap <= 0.0) continue;
    rows[count] = static_cast<std::uint32_t>(r);
    shares[count] = overlap / hop;
    ++count;
  }
  return count;
}

std::uint8_t EditGrid::frameRowFlags(std::int64_t j, std::int32_t channel) const {
  const std::vector<std::uint8_t>& edited = rowEdited[channel];
  if (rowSpacing <= 0.0) return edited[0];
  const double centre = std::clamp(static_cast<double>(frameStart(j) + n / 2), 0.0, static_cast<double>(total));
  const auto first =
      std::max<std::int64_t>(0, static_cast<std::int64_t>(std::ceil((centre - 0.5 * hop) / rowSpacing - 0.5)));
  const auto last = std::min<std::int64_t>(job->height - 1,
                                           static_cast<std::int64_t>(std::floor((centre + 0.5 * hop) / rowSpacing + 0.5)));
  std::uint8_t flags = 0;
  for (std::int64_t r = first; r <= last; ++r) flags |= edited[static_cast<std::size_t>(r)];
  return flags;
}

ResultCode makeEditGrid(const SpectralEditJob& job, EditGrid& g) {
  const RenderSettings& s = job.settings;
  const std::int32_t n = s.blockLength;
  if (!isPowerOfTwo(n) || n < 16 || n > (1 << 24)) return kResultInternal;
  if (job.width == 0 || job.height == 0 || job.width > kMaxPictureSide || job.height > kMaxPictureSide ||
      job.stride < job.width || job.channels < 1 || job.channels > 2 || !planesUsable(job) || !job.read ||
      !job.write) {
    return kResultInternal;
  }
  if (s.frequencyScale != FrequencyScale::Linear && s.frequencyScale != FrequencyScale::Logarithmic &&
      s.frequencyScale != FrequencyScale::Mel) {
    return kResultInternal;
  }
  g.job = &job;
  g.n = n;
  g.bins = n / 2;
  g.hop = n / 4;
  g.total = static_cast<std::int64_t>(job.sampleCount);
  g.frames = g.total == 0 ? 0 : (g.total + g.hop - 1) / g.hop + 3;
  g.channels = job.channels;
  g.rowSpacing = job.height > 1 && g.total > 0 ? static_cast<double>(g.total) / (job.height - 1) : 0.0;
  g.maxRowsPerFrame = g.rowSpacing > 0.0
                          ? static_cast<std::int32_t>(std::min<double>(job.height, std::ceil(g.hop / g.rowSpacing) + 2))
                          : 1;
  const auto un = static_cast<std::size_t>(n);
  g.window.resize(un);
  g.synthesis.resize(un);
  double squares = 0.0;  // over the four frames that cover a sample
  for (std::int32_t m = 0; m < n; ++m) g.window[static_cast<std::size_t>(m)] = hann(m, n);
  for (std::int32_t m = 0; m < g.hop; ++m) {
    double sum = 0.0;
    for (std::int32_t f = 0; f < 4; ++f) sum += g.window[static_cast<std::size_t>(m + f * g.hop)] *
                                                 g.window[static_cast<std::size_t>(m + f * g.hop)];
    squares += sum;
  }
  squares /= g.hop;
  for (std::size_t m = 0; m < un; ++m) g.synthesis[m] = g.window[m] / squares;

  const double slope = brightnessSlope(s.logRangeDb);
  g.ratioMinusOne.resize(511);
  for (std::int32_t d = -255; d <= 255; ++d) g.ratioMinusOne[static_cast<std::size_t>(d + 255)] = std::expm1(slope * d);
  g.ratioMinusOne[255] = 0.0;
  const double reference = editReferenceMagnitude(s);
  g.levelSquared.resize(256);
  for (std::int32_t b = 0; b < 256; ++b) {
    const double level = reference * std::exp(slope * (b - 255));
    g.levelSquared[static_cast<std::size_t>(b)] = level * level;
  }
  if (const ResultCode r = makeBinWeights(job, g); r != kResultOk) return r;

  makeBinRanges(g);
  for (std::int32_t c = 0; c < job.channels; ++c) markEditedRows(job, c, g);
  return kResultOk;
}

bool FrameCells::configure(const EditGrid& grid) {
  try {
    const auto k = static_cast<std::size_t>(grid.bins);
    const std::size_t w = grid.job->width;
    gainMinusOne.assign(k, 0.0);
    synthShare.assign(k, 0.0);
    target.assign(k, 0.0);
    columnDelta.assign(w, 0.0);
    columnShare.assign(w, 0.0);
    columnPower.assign(w, 0.0);
    rows.assign(static_cast<std::size_t>(grid.maxRowsPerFrame), 0);
    rowShares.assign(static_cast<std::size_t>(grid.maxRowsPerFrame), 0.0);
  } catch (const std::bad_alloc&) {
    return false;
  } catch (const std::length_error&) {
    return false;
  }
  return true;
}

bool FrameCells::gatherColumns(const EditGrid& grid, std::int64_t j, std::int32_t channel, Columns& columns) {
  const SpectralEditJob& job = *grid.job;
  const std::uint8_t* flags = grid.rowEdited[channel].data();
  const std::uint32_t* spans = grid.rowSpan[channel].data();
  const double* ratio = grid.ratioMinusOne.data();
  const double* level = grid.levelSquared.data();
  double* delta = columnDelta.data();
  double* shareOf = columnShare.data();
  double* power = columnPower.data();
  columns = {job.width, 0, false};
  bool touched = false;
  const std::int32_t count = grid.frameRows(j, rows.data(), rowShares.data());
  for (std::int32_t i = 0; i < count; ++i) {
    const std::uint32_t r = rows[static_cast<std::size_t>(i)];
    if (!(flags[r] & EditGrid::kRowEdited)) continue;
    touched = true;
    const std::uint32_t first = spans[2 * static_cast<std::size_t>(r)];
    const std::uint32_t end = spans[2 * static_cast<std::size_t>(r) + 1];
    columns.first = std::min(columns.first, first);
    columns.end = std::max(columns.end, end);
    if (flags[r] & EditGrid::kRowSynthesised) columns.synthesis = true;
    const double share = rowShares[static_cast<std::size_t>(i)];
    const std::size_t at = static_cast<std::size_t>(job.height - 1 - r) * job.stride;
    const std::uint8_t* original = job.planes[channel].original + at;
    const std::uint8_t* edited = job.planes[channel].edited + at;
    for (std::uint32_t x = first; x < end; ++x) {
      const int b = original[x];
      const int e = edited[x];
      if (e == b) continue;
      if (b == 0 || e - b >= kSynthesisBoostSteps) {
        shareOf[x] += share;
        power[x] += share * level[e];
      } else if (e == 0) {
        // Black is silence, not the bottom of the range: it takes the
        // cell out whatever its level was.
        delta[x] -= share;
      } else {
        delta[x] += share * ratio[e - b + 255];
      }
    }
  }
  return touched;
}

// Bins kFirst ... kEnd - 1 when no column asks for synthesis: each bin's
// share of synthesis is zero.
void FrameCells::masksToBins(const EditGrid& grid, std::int32_t kFirst, std::int32_t kEnd) {
  const std::int32_t* start = grid.binStart.data();
  const std::uint32_t* column = grid.binColumn.data();
  const double* weight = grid.binWeight.data();
  const double* columns = columnDelta.data();
  for (std::int32_t k = kFirst; k < kEnd; ++k) {
    double delta = 0.0;
    for (std::int32_t i = start[k]; i < start[k + 1]; ++i) delta += weight[i] * columns[column[i]];
    const auto uk = static_cast<std::size_t>(k);
    gainMinusOne[uk] = delta;
    synthShare[uk] = 0.0;
    target[uk] = 0.0;
    if (delta != 0.0) any = true;
  }
}

void FrameCells::cellsToBins(const EditGrid& grid, std::int32_t kFirst, std::int32_t kEnd) {
  const std::int32_t* start = grid.binStart.data();
  const std::uint32_t* column = grid.binColumn.data();
  const double* weights = grid.binWeight.data();
  for (std::int32_t k = kFirst; k < kEnd; ++k) {
    double delta = 0.0;
    double share = 0.0;
    double power = 0.0;
    for (std::int32_t i = start[k]; i < start[k + 1]; ++i) {
      const std::uint32_t x = column[i];
      const double weight = weights[i];
      delta += weight * columnDelta[x];
      share += weight * columnShare[x];
      power += weight * columnPower[x];
    }
    const auto uk = static_cast<std::size_t>(k);
    gainMinusOne[uk] = delta;
    synthShare[uk] = share;
    target[uk] = share > 0.0 ? std::sqrt(power / share) : 0.0;
    if (share >= 0.5) synthesis = true;
    if (delta != 0.0 || share >= 0.5) any = true;
  }
}

void FrameCells::evaluate(const EditGrid& grid, std::int64_t j, std::int32_t channel) {
  any = false;
  synthesis = false;
  Columns columns;
  if (!gatherColumns(grid, j, channel, columns)) {
    std::fill(gainMinusOne.begin(), gainMinusOne.end(), 0.0);
    std::fill(synthShare.begin(), synthShare.end(), 0.0);
    return;
  }
  // Bins beyond the painted columns take only zeros: they ask for nothing.
  const std::int32_t kFirst = grid.binsFrom[columns.first];
  const std::int32_t kEnd = std::max(kFirst, grid.binsTo[columns.end - 1]);
  for (std::vector<double>* v : {&gainMinusOne, &synthShare, &target}) {
    std::fill(v->begin(), v->begin() + kFirst, 0.0);
    std::fill(v->begin() + kEnd, v->end(), 0.0);
  }
  if (columns.synthesis) {
    cellsToBins(grid, kFirst, kEnd);
  } else {
    masksToBins(grid, kFirst, kEnd);
  }
  // Leave the scratch zero for the next frame.
  std::fill(columnDelta.begin() + columns.first, columnDelta.begin() + columns.end, 0.0);
  if (columns.synthesis) {
    std::fill(columnShare.begin() + columns.first, columnShare.begin() + columns.end, 0.0);
    std::fill(columnPower.begin() + columns.first, columnPower.begin() + columns.end, 0.0);
  }
}

ResultCode synthesisFrames(const EditGrid& grid, std::int32_t channel, std::vector<std::int64_t>& frames) {
  frames.clear();
  FrameCells cells;
  if (!cells.configure(grid)) return kResultNoMemory;
  try {
    for (std::int64_t j = 0; j < grid.frames; ++j) {
      // Only a row with a pixel that asks for synthesis can make one.
      if (!(grid.frameRowFlags(j, channel) & EditGrid::kRowSynthesised)) continue;
      cells.evaluate(grid, j, channel);
      if (cells.synthesis) frames.push_back(j);
    }
  } catch (const std::bad_alloc&) {
    return kResultNoMemory;
  }
  return kResultOk;
}

bool frameMoved(const EditGrid& grid, std::int64_t j, std::int32_t channel) {
  for (const SpectralMove& move : grid.job->moves) {
    if ((move.channel < 0 || move.channel == channel) && j >= move.frameFirst && j < move.frameEnd &&
        move.binEnd > move.binFirst) {
      return true;
    }
  }
  return false;
}

void movePhase(const EditGrid& grid, std::int64_t sourceStart, std::int32_t binOffset, double& re, double& im) {
  // exp(2 pi i d s / N), with d s reduced modulo N first so that it stays exact.
  const std::int64_t n = grid.n;
  std::int64_t turn = (static_cast<std::int64_t>(binOffset) % n) * (((sourceStart % n) + n) % n) % n;
  if (turn < 0) turn += n;
  const double angle = kTwoPi * static_cast<double>(turn) / static_cast<double>(n);
  re = std::cos(angle);
  im = std::sin(angle);
}

}  // namespace vellomar
