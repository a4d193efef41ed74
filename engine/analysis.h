// SPDX-License-Identifier: GPL-3.0-or-later
// Sound to picture: the inverse of a render. A wave (one channel of it)
// becomes brightness bytes on the grid a render of the same settings and picture size reads,
// so that rendering a picture and analysing the result gives the picture
// back.
//
// Grid
// - Columns: bin k of the column filter design (k * fs / N, N the block
//   length) lies on the picture's columns between the design's own bin
//   edges (prepareDesignWorkspace), so a column sees exactly the bins whose
//   filter gains it sets. Column x stands for the positions x - 0.5 ...
//   x + 0.5 (within 0 ... W - 1); it takes the mean of the bin powers over
//   that span, each bin's power spread linearly to its neighbours. Where a
//   column is narrower than a bin (the low end of the Logarithmic and Mel
//   scales) this interpolates between bins.
// - Rows: row r of H stands for time r * T / (H - 1) (T the sound's
//   length), as the render's filters read it: row 0 at the start, row H - 1
//   at the end. It averages the frames whose centres fall within half a row
//   spacing of that time, each frame's power spread linearly to its
//   neighbouring frames; one row averages the whole sound.
//
// Window, overlap and averaging
// - Frames of N samples (the block length) under the design's own Hann
//   window: the same bins as the filters, and about their frequency
//   resolution (the filters are N-tap Hann-windowed responses).
// - A frame every N/4 samples: at 75% overlap the squared Hann windows sum
//   to a constant, so every sample weighs alike in the averages and nothing
//   is missed between frames. Rows closer than that interpolate between
//   frames; the render itself cannot place a change in time more finely
//   than its N-tap filters do.
// - Powers, not magnitudes, are averaged over bins and frames, and the
//   square root is taken last: the mean power is an unbiased estimate of
//   the squared gain for a noise source, where the mean magnitude of noise
//   is not. Frames that reach past either end of the sound count only the
//   part of the window over the sound.
//
// Calibration
// The render filters a source x (white noise of mean square sigma^2 =
// noiseMeanSquare()) with a response whose gain at bin k is g * G_k * p_k /
// 2: G_k the picture's gain there, p_k the pink tilt (1 for white noise and
// waves), g the master gain factor, and 1/2 from the transforms' scaling
// (the forward transform divides by its length 2N, the inverse is
// unscaled: the N-tap filter's own gain is N * G_k). A frame's transform
// (divided by N) then has the expected power sigma^2 * (g G_k p_k / 2)^2 *
// sum(w^2) / N^2, so
//   G_k^2 = |Y_k|^2 * 4 N^2 / (sigma^2 g^2 p_k^2 sum(w^2)),
// with sum(w^2) over the part of the window inside the sound. Brightness
// inverts the picture's mapping: b = 255 G (linear), or b = 255 + ln G /
// alpha with the gain matrix's own log slope alpha; rounded and held within
// 0 ... 255.
//
// Sine tones
// With the sine source the sound is tones, not noise: a tone's power sits
// in the two bins either side of it (the main lobe of the frame's Hann
// window) whatever the column's width. Column x takes the sum of the bin
// powers within two bins of its own tone's frequency (sineColumnFrequency),
// and the squared gain is that power over a tone's at gain 1: a tone of
// amplitude A has a one-sided power of A^2 sum(w^2) / (4 N), so
//   G^2 = sum |Y_k|^2 * 4 N / (sum(w^2) * (level g)^2)
// with the tones' level (sineLevel). Where columns lie closer than two
// bins a tone lights its neighbours too: a line is as narrow as the bins
// allow.
//
// Speed: one real transform of N per N/4 samples and work proportional to
// the bins and columns per frame; rows are cut into runs analysed by every
// core, each run in its own context. Nothing is allocated per frame.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <functional>

#include "engine/result_code.h"
#include "engine/settings.h"

namespace vellomar {

// Columns of an analysis picture unless the caller names another width.
inline constexpr std::uint32_t kDefaultAnalysisWidth = 512;

struct AnalysisJob {
  // The grid and the mapping: block length and sub-blocks, scale (and
  // band), brightness mapping and range, master gain. The source names the
  // tilt divided out: PinkNoise its -3 dB/octave, anything else none.
  RenderSettings settings;
  // The samples: a regular file, or any stream read in order, positioned at
  // the first sample; 16-bit (or 8-bit when input8Bit, 32-bit float with
  // 1.0 at full scale when inputFloat), `channels` interleaved, of which
  // `channel` is analysed. Left open.
  std::FILE* input = nullptr;
  bool input8Bit = false;
  bool inputFloat = false;
  std::uint32_t sampleCount = 0;  // frames: one sample of every channel
  std::int32_t channels = 1;
  std::int32_t channel = 0;
  // The picture written: width x height bytes, rows stored bottom-up
  // `stride` bytes apart as in PictureData (picture row y, 0 = top, is at
  // (height - 1 - y) * stride).
  std::uint8_t* pixels = nullptr;
  std::uint32_t width = 0;
  std::uint32_t stride = 0;
  std::uint32_t height = 0;
  // Polled between frames; set (by any thread) to stop with 111.
  const std::atomic<bool>* abort = nullptr;
  // Called now and then with thousandths 0 ... 1000, in order, on the thread
  // that called analyseSound; it must return at once.
  std::function<void(int)> progress;
  // Threads that analyse: 0 means every core this process may use.
  std::int32_t threads = 0;
};

// Analyses the job's samples into its picture. Returns 0, 3 (no memory),
// 4 (the input ran short), 110 (settings or a picture the design cannot
// use: block length, sub-blocks, scale, a side of 0 or beyond
// kMaxPictureSide, no pixels) or 111 (aborted). The picture is complete
// only on 0.
ResultCode analyseSound(AnalysisJob& job);

// Rows of an analysis picture unless the caller names another height: one
// per hop (N / S samples) of the sound, at least one.
std::uint32_t defaultAnalysisRows(const RenderSettings& settings, std::uint32_t sampleCount);

// The brightness byte of gain g under the settings' mapping: the inverse of
// buildGainMatrix, rounded to the nearest byte and held within 0 ... 255.
std::uint8_t brightnessOfGain(double gain, const RenderSettings& settings);

}  // namespace vellomar
