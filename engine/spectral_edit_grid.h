// SPDX-License-Identifier: GPL-3.0-or-later
// Inside the spectral edit: where the picture's cells fall on the frames
// and bins of the short-time spectrum, and what an edit asks of each of
// them. Read by every thread of an edit, written by none after makeEditGrid.
#pragma once

#include <cstdint>
#include <vector>

#include "engine/result_code.h"
#include "engine/spectral_edit.h"
#include "fft/buffer.h"

namespace vellomar {

struct EditGrid {
  const SpectralEditJob* job = nullptr;
  std::int32_t n = 0;     // frame length
  std::int32_t bins = 0;  // K = N / 2 complex entries of a frame
  std::int32_t hop = 0;   // N / 4
  std::int64_t total = 0;   // samples of the recording
  std::int64_t frames = 0;  // frames 0 ... frames - 1 reach the recording
  std::int32_t channels = 1;
  double rowSpacing = 0.0;  // samples between row centres; 0: every frame reads row 0
  std::int32_t maxRowsPerFrame = 1;

  std::vector<double> window;     // N: the analysis window
  std::vector<double> synthesis;  // N: the window divided by the sum of its squares over a sample's frames
  std::vector<double> ratioMinusOne;  // 511: gain(b') / gain(b) - 1 at b' - b + 255
  std::vector<double> levelSquared;   // 256: squared magnitude of brightness b
  // Bin k takes columns binColumn[binStart[k] ... binStart[k + 1]) with
  // binWeight: the share of its width each covers.
  std::vector<std::int32_t> binStart;
  std::vector<std::uint32_t> binColumn;
  std::vector<double> binWeight;
  // Per channel and row: kRowEdited when some pixel of the row was
  // painted, with kRowSynthesised when some painted pixel asks for
  // synthesis; and the painted columns' span, first ... end - 1 (two
  // entries a row; empty for an unpainted row).
  static constexpr std::uint8_t kRowEdited = 1;
  static constexpr std::uint8_t kRowSynthesised = 2;
  std::vector<std::uint8_t> rowEdited[2];
  std::vector<std::uint32_t> rowSpan[2];
  // The bins that take any column of x0 ... x1 lie in binsFrom[x0] ...
  // binsTo[x1] - 1 (width entries each).
  std::vector<std::int32_t> binsFrom;
  std::vector<std::int32_t> binsTo;

  std::int64_t frameStart(std::int64_t j) const { return j * hop - n + hop; }
  // The first frame that reaches sample s, and the last.
  std::int64_t firstFrameAt(std::int64_t s) const { return s / hop; }
  std::int64_t lastFrameAt(std::int64_t s) const { return s / hop + 3; }

  // The rows frame j takes and their shares (at most maxRowsPerFrame);
  // returns how many.
  std::int32_t frameRows(std::int64_t j, std::uint32_t* rows, double* shares) const;
  // Whether frame j takes a painted row of `channel`.
  bool frameTouched(std::int64_t j, std::int32_t channel) const { return (frameRowFlags(j, channel) & kRowEdited) != 0; }
  // The rowEdited flags of the rows frame j may take, together.
  std::uint8_t frameRowFlags(std::int64_t j, std::int32_t channel) const;
};

// Makes the grid of `job`: 0, 3 or 110 (sizes, planes or settings it cannot
// use).
ResultCode makeEditGrid(const SpectralEditJob& job, EditGrid& grid);

// What one frame of one channel asks for, bin by bin. Only the columns a
// frame's rows painted and the bins that take them are visited; the rest
// are known to ask for nothing.
struct FrameCells {
  std::vector<double> gainMinusOne;  // K: G - 1 of a masked cell
  std::vector<double> synthShare;    // K: the share of the cell painted over silence
  std::vector<double> target;        // K: the painted magnitude of such a cell
  // Scratch by column, zero outside evaluate.
  std::vector<double> columnDelta;
  std::vector<double> columnShare;
  std::vector<double> columnPower;
  std::vector<std::uint32_t> rows;
  std::vector<double> rowShares;
  bool any = false;        // some cell asks for a change
  bool synthesis = false;  // some cell is synthesised

  // Sizes the arrays for `grid`. False when memory is short.
  bool configure(const EditGrid& grid);
  // Fills the cells of frame j of `channel`.
  void evaluate(const EditGrid& grid, std::int64_t j, std::int32_t channel);
  // Whether bin k is synthesised.
  bool synthesised(std::int32_t k) const { return synthShare[static_cast<std::size_t>(k)] >= 0.5; }

 private:
  // Columns [first, end) painted by the frame's rows; whether any of them
  // asks for synthesis.
  struct Columns {
    std::uint32_t first = 0;
    std::uint32_t end = 0;
    bool synthesis = false;
  };
  bool gatherColumns(const EditGrid& grid, std::int64_t j, std::int32_t channel, Columns& columns);
  void masksToBins(const EditGrid& grid, std::int32_t kFirst, std::int32_t kEnd);
  void cellsToBins(const EditGrid& grid, std::int32_t kFirst, std::int32_t kEnd);
};

// Frames of `channel` with a cell synthesised (ascending).
ResultCode synthesisFrames(const EditGrid& grid, std::int32_t channel, std::vector<std::int64_t>& frames);

// Whether any move writes frame j of `channel`.
bool frameMoved(const EditGrid& grid, std::int64_t j, std::int32_t channel);

// The phase turn of a moved cell: moving the frame that starts at sample s
// up by d bins multiplies it by exp(2 pi i d s / N).
void movePhase(const EditGrid& grid, std::int64_t sourceStart, std::int32_t binOffset, double& re, double& im);

}  // namespace vellomar
