// SPDX-License-Identifier: GPL-3.0-or-later
// Editing a recording through its picture, losslessly.
//
// A recording is analysed into a picture "for editing" (editingSettings):
// its short-time spectrum on the picture's grid, brightness on a log
// mapping over kEditRangeDb, so that one brightness step is under 0.4 dB.
// The user paints on the picture; renderSpectralEdit gives the recording
// back with the painted change and nothing else:
//
//   y = x + ISTFT((G - 1) * STFT(x))
//
// G is, cell by cell of the short-time spectrum, gain(edited pixel) /
// gain(original pixel), the pixels averaged by the area each shares with
// the cell (so an edit thinner than a hop still reaches the frames it
// overlaps). Where the picture is unchanged G is exactly 1 and the frame is
// not transformed at all: every sample that no edited frame reaches comes
// back bit for bit, whatever the sample format.
//
// Frames and window
// - Frames of N samples (the settings' block length) under the analysis's
//   own Hann window, one every N/4 samples: frame j covers samples
//   j*N/4 - 3N/4 ... j*N/4 + N/4 - 1, so hop h (samples h*N/4 ...) lies
//   under frames h ... h + 3. The synthesis window is the same Hann
//   divided by 3/2, the sum of its squares over the four frames that
//   cover any sample, so a uniform G scales the sound by exactly G.
// - A frame stands for the hop of time around its centre, held within the
//   sound, and takes each picture row by the share of that hop it covers;
//   a bin stands for its own width of frequency, placed on the picture's
//   columns by the picture's scale and band, and takes each column by the
//   share of that width it covers. Parts of a cell outside the picture
//   count as unchanged.
//
// Where the original is silent
// A pixel whose original brightness is 0 (at or below the bottom of the
// mapping) has no level to scale. Cells covered at least half by such
// pixels that were painted brighter are synthesised: their magnitude is
// the painted level, their phase starts from the original's (or a fixed
// pseudo-random one where the original is digital silence) and is refined
// by Griffin-Lim iterations that change only those cells. Such runs of
// frames are solved before the stream passes them; memory grows with the
// painted region, never with the recording.
//
// Moves
// A SpectralMove copies the complex spectrum of a rectangle of cells to
// another place (in whole frames and bins, with the phase turned so that
// the moved sound stays continuous); the moved cells replace whatever the
// picture says there.
//
// Streaming and threads
// The output is made in chunks of hops, each from the frames that reach
// it, adding their contributions in frame order: any thread count and any
// order of chunks give the same samples. Only the chunks being made are
// held; nothing is allocated per frame or per hop.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "engine/result_code.h"
#include "engine/settings.h"

namespace vellomar {

// The brightness range of a picture for editing: 96 dB over 255 steps,
// 0.376 dB a step.
inline constexpr std::int32_t kEditRangeDb = 96;
// The frame length of the analysis for editing at 44100 Hz unless the
// user picks another; other rates scale it (editBlockLength).
inline constexpr std::int32_t kEditBlockLength = 4096;
// Griffin-Lim iterations of the synthesised cells.
inline constexpr std::int32_t kEditSynthesisIterations = 32;

// The frame length of the analysis for editing at `sampleRate`: the power
// of two nearest to kEditBlockLength's duration at 44100 Hz, 1024 ... 16384,
// so that a recording at any rate is seen with about the same resolution
// in seconds and hertz.
std::int32_t editBlockLength(std::uint32_t sampleRate);

// The analysis settings of a picture for editing on the grid of `grid`
// (its scale, band, rate and block length; a block length that is no
// power of two of at least 16 takes editBlockLength): log brightness over kEditRangeDb,
// four frames per block, no tilt, and a reference level (master gain) at
// which brightness 255 is a full-scale sine in one bin.
RenderSettings editingSettings(const RenderSettings& grid);

// The magnitude (of a frame's transform divided by N) that brightness 255
// stands for under editingSettings: the sound's sample units.
double editReferenceMagnitude(const RenderSettings& editing);

// A copy of the complex spectrum: destination cells [frameFirst,
// frameEnd) x [binFirst, binEnd) take the cells frameOffset frames and
// binOffset bins earlier (lower).
struct SpectralMove {
  std::int32_t channel = -1;  // -1: every channel
  std::int64_t frameFirst = 0;
  std::int64_t frameEnd = 0;
  std::int32_t binFirst = 0;
  std::int32_t binEnd = 0;
  std::int64_t frameOffset = 0;
  std::int32_t binOffset = 0;
};

// One channel's pictures: bytes in PictureData's layout (rows bottom-up,
// `stride` apart), the recording's analysis and the painted one.
struct EditPlanes {
  const std::uint8_t* original = nullptr;
  const std::uint8_t* edited = nullptr;
};

// Samples [first, end) of a recording.
struct SampleRange {
  std::uint64_t first = 0;
  std::uint64_t end = 0;
};

struct SpectralEditJob {
  // The editing settings the picture was analysed with (editingSettings).
  RenderSettings settings;
  std::uint32_t width = 0;
  std::uint32_t stride = 0;
  std::uint32_t height = 0;
  std::int32_t channels = 1;  // 1 or 2
  EditPlanes planes[2];
  std::uint64_t sampleCount = 0;  // frames of the recording
  std::vector<SpectralMove> moves;
  // Reads samples [from, from + count) of `channel` (all within the
  // recording) into `out`, in the recording's own units. Called from any
  // thread, several at once. Returns 0 or 4 (short).
  std::function<ResultCode(std::int32_t channel, std::uint64_t from, std::size_t count, double* out)> read;
  // Takes the output in order: `count` frames from `from`, channels
  // interleaved. Called on the thread of renderSpectralEdit. Returns 0 or 7.
  std::function<ResultCode(std::uint64_t from, std::size_t count, const double* interleaved)> write;
  // Polled between chunks; set (by any thread) to stop with 111.
  const std::atomic<bool>* abort = nullptr;
  // Thousandths 0 ... 1000 in order, on the calling thread; returns at once.
  std::function<void(int)> progress;
  // Threads: 0 means every core this process may use.
  std::int32_t threads = 0;
  // The part of the output to make: samples [outputFirst, outputEnd),
  // written as the whole render writes them (the same values, in order,
  // starting at outputFirst). outputEnd 0 means to the end.
  std::uint64_t outputFirst = 0;
  std::uint64_t outputEnd = 0;
  // When set, receives the samples the synthesised runs of frames reach,
  // merged and in order: they are solved as wholes, so a change of one of
  // their cells may change every sample a run reaches.
  std::vector<SampleRange>* synthesisReach = nullptr;
};

// Renders the edit. Returns 0, 3 (no memory), 4 (a read ran short), 7 (a
// write failed), 110 (settings, sizes or planes the grid cannot use) or
// 111 (aborted).
ResultCode renderSpectralEdit(const SpectralEditJob& job);

// The samples an edit may change: the reach of every frame it transforms,
// merged and in order, as [first, end) pairs. Empty for an unchanged
// picture. Fills `ranges`; returns 0, 3 or 110.
ResultCode editedSampleRanges(const SpectralEditJob& job, std::vector<SampleRange>& ranges);

// The move that carries picture rectangle [x0, x1) x [y0, y1) by dx
// columns and dy rows, on the job's grid: the frames whose centres lie in
// the destination rows and the bins whose centres lie in the destination
// columns, shifted by the whole frames and bins nearest to the offset (on
// a warped scale, as measured at the rectangle's centre).
SpectralMove moveForPicture(const SpectralEditJob& job, std::int32_t channel, std::uint32_t x0, std::uint32_t y0,
                            std::uint32_t x1, std::uint32_t y1, std::int32_t dx, std::int32_t dy);

}  // namespace vellomar
