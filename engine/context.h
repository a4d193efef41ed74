// SPDX-License-Identifier: GPL-3.0-or-later
// What one render thread works in: the filtered block cache, the filter
// design workspace, the source block buffer, the transforms' scratch, the
// hop's output bytes and the noise generator state. configureRenderContext sizes
// everything once for a job; reading blocks, designing filters, filtering
// and mixing hops then allocate nothing.
//
// A context belongs to one thread at a time. Several contexts may work on
// one job at once: the job, its picture and the gain matrix are only read.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "engine/result_code.h"
#include "engine/settings.h"
#include "engine/span.h"
#include "fft/buffer.h"
#include "fft/fft.h"

namespace vellomar {

// One block filtered by one column, with the tail of the block before
// added: 2N samples, of which the first N are the block's span of the
// output.
struct FilteredBlock {
  std::int32_t block = -1;   // -1 = none
  std::int32_t column = -1;
  FftBuffer samples;
};

// The latest source block, its spectrum combined with the one before, the
// current column filter and the two latest filtered blocks.
struct FilteredBlockCache {
  std::int32_t block = -1;  // the block `spectrum` holds (and `combined` is for); -1 = none
  FftBuffer spectrum;       // N complex entries: X_block
  FftBuffer combined;       // N complex entries: X_block + (-1)^k X_block-1
  FftBuffer filter;         // N complex entries
  std::int32_t columnKey = -1;
  FilteredBlock filtered[2];
  int newest = 0;      // the filtered block made or read last
  bool made = false;   // the arrays exist (they are made and released together)
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

  // The transforms of sizes N and 2N, on the plans of the render (or on
  // the context's own, when configured alone).
  std::unique_ptr<FftPlans> ownPlans;
  FftWorkspace fft;

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

  // The render loop's output bytes of one hop.
  std::vector<unsigned char> hopBytes;
};

// The transforms a render of block length n makes: inverse n (filter
// design), forward 2n (source blocks and filter design), inverse 2n
// (filtering).
std::array<FftTransform, 3> renderTransforms(std::int32_t n);

// Makes the plans of a render of `job` (renderTransforms of its block
// length, from job.plans), to be shared by every context of the render.
// The library behind the transforms allocates here and nowhere else: call
// it before any worker thread starts. Returns 0, 3 (memory is short; the
// library was not asked to allocate) or 110 (a block length or sub-block
// count the engine cannot use).
ResultCode makeRenderPlans(FftPlans& plans, const RenderJob& job);

// Binds `context` to `job`, the job's gain matrix `gains` and `plans` (all
// kept alive by the caller; the plans hold renderTransforms of the job's
// block length) and makes every buffer and table. The source starts at
// block 0 with the job's noise state. Returns 0, 3 (no memory, the
// transforms' scratch included) or 110 (block length or sub-block count
// that the engine cannot use, or plans that lack a transform).
ResultCode configureRenderContext(RenderContext& context, const RenderJob& job, const float* gains,
                                  const FftPlans& plans);
// The same on plans of the context's own, made from job.plans: for a
// context that works alone.
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
