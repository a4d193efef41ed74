// SPDX-License-Identifier: GPL-3.0-or-later
// Sine tones: one sine oscillator per picture column, its amplitude
// following the column's gain over time.
//
// Frequencies and phases
// - Column c of a picture W columns wide sounds the frequency that the
//   settings' scale mapping over their band gives position c of the
//   length W - 1 (pictureMapping): the leftmost column the band's low end,
//   the rightmost its high end. A one-column picture sounds the band's
//   middle on its scale. A column at 0 Hz or at half the sample rate (or
//   beyond) is silent: no tone exists there.
// - The phase of every oscillator is a 64-bit integer, one cycle being 2^64:
//   phase(n) = start + increment * n modulo 2^64 at output sample n, exact
//   at any n. The increment is the frequency times 2^64 / rate, rounded, so
//   a tone lies within 10^-14 Hz of its column's frequency. The start is
//   Schroeder's pi c^2 / W: on the Linear scale from 0 Hz the columns are
//   harmonics of one another and a white picture's peak stays below twice
//   its RMS; on the other scales the tones are not harmonics, and the
//   phases keep the peak low at the start (within 4 times the RMS) until
//   the tones drift apart and their sum peaks like noise does (about 4.5
//   times its RMS over seconds, as the pink render's own).
//
// Time
// - The amplitudes follow the filter render's time mapping exactly: filter
//   column v stands for the picture's rows over its slot (slotColumnGains,
//   the same rows over the same time spans), and within hop u the output
//   fades linearly from column u's gains to column u + 1's, the very mix
//   of the filter render. A step in the picture becomes a ramp at least a
//   hop long; the phase runs on through it.
//
// Level
// - Every column's amplitude is level * gain, the same level for every
//   column: level = sqrt(2 * sigma^2 * E / W), where sigma^2 is the noise
//   generator's mean square (noiseMeanSquare) and E the energy of the
//   impulse response that the filter render gives a white picture on
//   pink noise at the same settings (scale, band, block length). W tones
//   of that amplitude have the mean square sigma^2 * E of a white
//   picture's pink render, so switching the source keeps a full picture's
//   loudness; the master gain applies as for every source.
//
// Synthesis
// - The sum of the tones under filter column v's gains, over the two hops
//   around the column's moment (2H samples, H = N / S), is one non-uniform
//   inverse transform: every tone is spread onto an oversampled frequency
//   grid (4H points) through a Kaiser-Bessel kernel of kSineKernelTaps
//   points, one real inverse transform of the grid gives the sum under the
//   kernel's transform, and dividing by that transform leaves the tones.
//   The kernel's aliasing and truncation stay near 10^-11 of the tones'
//   amplitude sum, far below the 16-bit output's rounding. Cost per hop: a
//   transform of 4H points and kSineKernelTaps products per sounding
//   column; silent columns are skipped, and a hop with none is zeros.
// - Columns are summed in column order and every hop depends only on its
//   own index, the picture and the settings, so any block renders alone to
//   the same bytes, on any thread.
#pragma once

#include <cstdint>
#include <vector>

#include "engine/block_renderer.h"
#include "engine/result_code.h"
#include "engine/settings.h"
#include "fft/buffer.h"
#include "fft/fft.h"

namespace vellomar {

// Points of each tone's kernel on the oversampled grid.
inline constexpr std::int32_t kSineKernelTaps = 13;

// What every thread of a sine render reads: one set per render, shared by
// all channels. Made by prepareSineTables, then only read.
struct SineTables {
  std::int32_t width = 0;      // picture columns
  std::int32_t hop = 0;        // H = N / S
  std::int32_t grid = 0;       // M = 4H, the oversampled grid
  std::int64_t halfBlock = 0;  // N / 2: output sample n is timeline sample n + N / 2
  double level = 0.0;          // amplitude of a column at gain 1
  // Per column: the phase step per sample and the phase at output sample
  // 0 (2^64 = one cycle); `sounding` is 0 for a silent column.
  std::vector<std::uint64_t> increment;
  std::vector<std::uint64_t> startPhase;
  std::vector<std::uint8_t> sounding;
  // Per column: the grid index of its first kernel point (below 0 or
  // beyond M / 2 near the ends of the band) and its kSineKernelTaps kernel
  // values.
  std::vector<std::int32_t> firstTap;
  std::vector<double> kernel;
  // 2H factors that turn the inverse transform's samples into the tones'
  // sum: the grid spacing over the kernel's transform at each sample.
  std::vector<double> deconvolution;
  // e^{i theta} of a phase, from its top 12 bits (`coarse`, cos and sin
  // of 4096 steps of a turn) and its next 12 (`fine`, of 4096 steps of a
  // step), the 40 bits left over by their short series: to within 10^-15.
  std::vector<double> coarse;
  std::vector<double> fine;
};

// Makes the tables of `job` (a sine render): the columns' frequencies,
// phases and kernels, the deconvolution and the level. Returns 0, 3 or 110
// (settings or a picture the render cannot use: block length, sub-blocks,
// rate, scale, no picture).
ResultCode prepareSineTables(SineTables& tables, const RenderJob& job);

// The level of a sine render of `settings` for a picture `width` columns
// wide (see Level above); 0 when the settings cannot be rendered.
double sineLevel(const RenderSettings& settings, std::uint32_t width);

// The frequency of column `column` of a picture `width` columns wide under
// `settings`, in Hz (before the check against 0 Hz and half the rate).
double sineColumnFrequency(const RenderSettings& settings, std::uint32_t width, std::uint32_t column);

// One thread's synthesiser: the grid, the transform and the sums of the
// last two filter columns it made. configureSineVoice sizes everything;
// rendering allocates nothing.
struct SineVoice {
  const RenderJob* job = nullptr;
  const SineTables* tables = nullptr;
  FftWorkspace fft;       // size M
  FftBuffer transformed;  // M: the inverse transform's output
  FftBuffer sums[2];      // 2H each: the tones' sum under one filter column
  std::int64_t heldColumn[2] = {-1, -1};
  const float* heldGains = nullptr;  // the gains the held sums were made from
  std::vector<float> slice;          // W: a filter column's gains
  std::vector<float> interior;       // W: scratch of the slice
};

// Binds `voice` to `job` and its tables (both kept alive by the caller)
// and makes its buffers. Returns 0, 3 or 110.
ResultCode configureSineVoice(SineVoice& voice, const RenderJob& job, const SineTables& tables);

// The two signals hop u fades between, over the hop's H samples: `from`
// the tones under filter column u, `to` under column u + 1, of the channel
// whose gain matrix is `gains` (before the master gain). The pointers stay
// valid until the next call on the voice. Returns 0, 9 or 110.
ResultCode sineHopSignals(SineVoice& voice, const float* gains, std::int64_t u, const double*& from, const double*& to);

// Output frames first ... first + count - 1 of the channel whose gain
// matrix is `gains` into out[i * stride], the master gain applied, before
// any rounding: exactly the values a render stores. Any range gives the
// same values as the whole render. With `stop`, polled after every hop
// but the output's last, returns 111 once it is set; `framesDone` (when
// given) receives the frames written. Returns 0, 9, 110 or 111.
ResultCode renderSineFrames(SineVoice& voice, const float* gains, std::int64_t first, std::int64_t count,
                            double* out, std::size_t stride = 1, const StopFlags* stop = nullptr,
                            std::int64_t* framesDone = nullptr);

}  // namespace vellomar
