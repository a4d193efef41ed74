// SPDX-License-Identifier: GPL-3.0-or-later
// What one render thread works in: the filtered block cache, the filter
// design workspace, the source block buffer, the transforms' scratch, the
// hop buffers and the noise generator state. configureRenderContext sizes
// everything once for a job; reading blocks, designing filters, filtering
// and mixing hops then allocate nothing.
//
// A context belongs to one thread at a time. Several contexts may work on
// one job at once: the job, its picture and the gain matrix are only read.
#pragma once

#include <cstdint>
#include <vector>

#include "engine/result_code.h"
#include "engine/settings.h"
#include "engine/span.h"
#include "fft/buffer.h"
#include "fft/fft.h"

namespace vellomar {

// One source block held by the cache.
struct SourceSlot {
  std::int32_t key = -1;  // block index, -1 = empty
  FftBuffer spectrum;     // N complex entries
  FftBuffer filtered;     // 2N samples under the current filter
  bool filteredValid = false;
};

// The last two source blocks and the current column filter.
struct FilteredBlockCache {
  SourceSlot a;
  SourceSlot b;
  FftBuffer filter;  // N complex entries
  std::int32_t columnKey = -1;
  bool made = false;  // the arrays exist (they are made and released together)
};

// The tables and work areas of the column filter design, for one block
// length, scale and band, source and picture width.
struct FilterDesignWorkspace {
  FftBuffer workBuffer;             // 2N; entries N..2N-1 stay zero
  std::vector<double> halfWindow;   // K = N/2: rising half of a Hann window of length N
  std::vector<double> pinkWeights;  // K: -3 dB/octave amplitude tilt; empty unless the source is pink noise
  std::vector<float> slice;         // one gain per picture column
  std::vector<float> interior;      // one float per picture column, scratch of the slice
  // Column positions of the bin edges: edge i is the position of bin
  // i - 0.5, for i = edgesFirst .. edgesEnd. Empty when the scale is
  // unknown.
  std::vector<float> binEdges;
  std::int32_t edgesFirst = 0;  // bins below it are silent
  std::int32_t edgesEnd = 0;    // and so are bins from it on (K for the scale's own band)
  // Weights of bins edgesFirst .. edgesEnd - 1 near the edges of a chosen
  // band; empty for the scale's own band (every bin at full weight).
  std::vector<double> edgeWeights;
  // How bin i averages the slice, for i = edgesFirst .. edgesEnd - 1: the
  // span between its edges, clamped into the picture.
  std::vector<SpanWeights> binWeights;
};

struct RenderContext {
  const RenderJob* job = nullptr;
  const float* gains = nullptr;  // the job's gain matrix, width x height
  std::int32_t blockLength = 0;  // N the buffers were made for; 0 = not configured

  FftWorkspace fft;  // sizes N and 2N

  // Lower half: the block's samples; upper half: zeros, written once when
  // the buffer is made and relied on by every transform after that.
  FftBuffer sourceBuffer;
  std::int32_t lastBlockRead = -1;
  std::int32_t noiseState = kInitialRandomSeed;
  // Byte offset in the input file of the first sample, for reads at each
  // block's own position; -1 when the input is read in order from its
  // stream (a stream that cannot be read by position).
  std::int64_t inputOffset = -1;
  // The channel of a stereo input that this context reads.
  std::int32_t inputChannel = 0;

  FilteredBlockCache cache;
  FilterDesignWorkspace design;

  // The render loop's hop buffers: the two filter columns of a hop and the
  // hop's output bytes.
  FftBuffer hopX;
  FftBuffer hopY;
  std::vector<unsigned char> hopBytes;
};

// Binds `context` to `job` and the job's gain matrix `gains` (kept alive by
// the caller) and makes every buffer and table. The source starts at block
// 0 with the job's noise state. Returns 0, 3 (no memory, the transforms'
// plans and scratch included) or 110 (block length or sub-block count that
// the engine cannot use).
ResultCode configureRenderContext(RenderContext& context, const RenderJob& job, const float* gains);

// Makes block k the next block the source delivers: the noise generator
// jumps to the block's first sample, a wave input is read from it, and
// block k passes the sequence rule.
void seekSource(RenderContext& context, std::int32_t k);

// Releases the cache's arrays and forgets its blocks and filter; the next
// segment request makes them anew.
void releaseFilteredBlockCache(RenderContext& context);

// Forgets the cache's blocks and filter, keeping its arrays.
void resetFilteredBlockCache(RenderContext& context);

// Whether the job's input can be read at any block's own position (and so
// by several contexts at once).
bool inputReadableByPosition(const RenderJob& job);

}  // namespace vellomar
