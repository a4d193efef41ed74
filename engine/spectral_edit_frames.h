// SPDX-License-Identifier: GPL-3.0-or-later
// Inside the spectral edit: one thread's work on frames. A frame's change
// is Z = Y - X, X the frame's spectrum and Y what the edit makes of it;
// the output adds synthesis window x inverse(Z) over the frame's samples.
#pragma once

#include <cstdint>
#include <vector>

#include "engine/spectral_edit_grid.h"
#include "fft/buffer.h"
#include "fft/fft.h"

namespace vellomar {

// Changes of synthesised frames, solved before the stream reaches them.
struct SynthesisRun {
  std::int32_t channel = 0;
  std::int64_t first = 0;  // frames first ... end - 1
  std::int64_t end = 0;
  FftBuffer changes;  // (end - first) x N doubles: K complex entries a frame
};

struct SynthesisStore {
  std::vector<SynthesisRun> runs;  // by channel, then by frame
  // The change of frame j of `channel`, or null when it is not stored.
  const double* find(std::int32_t channel, std::int64_t j) const;
};

struct EditContext {
  const EditGrid* grid = nullptr;
  const SynthesisStore* store = nullptr;
  FftWorkspace fft;
  FftBuffer windowed;  // N
  FftBuffer spectrum;  // K complex: the frame's X
  FftBuffer moved;     // K complex: a move's source frame
  FftBuffer change;    // K complex: Z
  FftBuffer samples;   // N: inverse(Z), or a move source's samples
  FrameCells cells;

  // Sizes everything for `grid`. Returns 0 or 3.
  ResultCode configure(const EditGrid& grid, const SynthesisStore& store);

  // X of the frame whose N samples are `x`, into `spectrum`.
  bool analyse(const double* x);

  // Z of frame j of `channel` (whose samples are `x`) into `change`:
  // stored, or masked and moved. False when the frame asks for nothing.
  // `synthesisIncluded` lets the caller keep stored changes out (while
  // solving them). Returns 0, 3 or 4 in `result`.
  bool frameChange(std::int64_t j, std::int32_t channel, const double* x, bool useStore, ResultCode& result);

  // Adds synthesis window x inverse(change) of frame j to out[0 ...
  // end - begin), which holds samples begin ... end - 1.
  bool addChange(std::int64_t j, double* out, std::int64_t begin, std::int64_t end);

  // Reads samples [from, from + count) of `channel`, zeros outside the
  // recording. Returns 0 or 4.
  ResultCode read(std::int32_t channel, std::int64_t from, std::int64_t count, double* out) const;

 private:
  ResultCode applyMoves(std::int64_t j, std::int32_t channel, bool& changed);
};

// Solves every synthesised run of the grid's edit into `store`, in order,
// on the calling thread. Returns 0, 3, 4 or 111.
ResultCode solveSynthesis(const EditGrid& grid, SynthesisStore& store, const std::atomic<bool>* abort);

}  // namespace vellomar
