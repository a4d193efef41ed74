// SPDX-License-Identifier: GPL-3.0-or-later
// The output of a render as blocks, and what renders one block.
//
// Blocks
// - A render of `frames` output frames with block length N has
//   blockCount(frames, N) blocks. Block 0 holds frames 0 ... N/2 - 1, block
//   b >= 1 frames b N - N/2 ... b N + N/2 - 1, each cut at the end of the
//   output (BlockLayout).
//
// Block renderers
// - A BlockRenderer turns the render's inputs (RenderInputs: the job and
//   one gain matrix per channel) into the values of whole blocks, every
//   channel interleaved, on the 16-bit scale before any rounding (see
//   engine/encoding.h). One renderer serves one thread at a time; several
//   renderers may render blocks of one render at once.
// - Every block is a function of the inputs and its index alone: rendered
//   alone, in runs, in any order, on any thread, after any other blocks,
//   it gives the same values, bit for bit. Rendering the blocks in order
//   is merely cheapest (a filter render then reads each source block once).
// - prepare() makes every buffer and table; after it, renderBlock()
//   allocates nothing and never fails for want of memory. It runs on the
//   thread that starts a render, before any worker thread, and again when
//   the inputs change shape (another picture size, scale, band or source).
// - forget() drops whatever the renderer keeps from earlier blocks: the
//   caller calls it after changing the gains in place.
// - rowsOfBlock() names the picture rows a block reads, so that a session
//   knows which blocks a change of some rows reaches.
// - One source, one renderer: makeBlockRenderer picks it by the settings'
//   source. A new source adds its renderer there and nothing else changes:
//   the session's block table, the ordered render and the tests of both
//   take any renderer that keeps this contract.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "engine/result_code.h"
#include "engine/row_span.h"
#include "engine/settings.h"

namespace vellomar {

inline constexpr int kMaxChannels = 2;

struct BlockLayout {
  std::int64_t frames = 0;      // output frames
  std::int32_t blockLength = 0; // N
  std::int64_t blocks = 0;      // blockCount(frames, N)
  int channels = 1;

  static BlockLayout of(const RenderJob& job);

  std::int64_t firstFrame(std::int64_t b) const {
    return b == 0 ? 0 : b * blockLength - blockLength / 2;
  }
  // Frames of block b (0 for a block past the end).
  std::int64_t frameCount(std::int64_t b) const;
  // The block that holds `frame`.
  std::int64_t blockOf(std::int64_t frame) const { return (frame + blockLength / 2) / blockLength; }
  // Values (or stored samples) of the largest block: N frames of every
  // channel.
  std::size_t blockValues() const { return static_cast<std::size_t>(blockLength) * static_cast<std::size_t>(channels); }
};

// What a render reads: the job (settings, picture, sample count, input,
// the noise state it starts from) and a gain matrix (width x height floats,
// row 0 the top row) per output channel. The caller keeps all of it alive
// and unchanged while blocks render.
struct RenderInputs {
  const RenderJob* job = nullptr;
  const float* gains[kMaxChannels] = {};
  int channels = 1;
  // The transforms' plans every renderer of the render shares, made once
  // by makeRenderPlans (engine/context.h) before any renderer is prepared;
  // null: each renderer makes plans of its own from job->plans.
  const FftPlans* plans = nullptr;
};

// Stop requests polled between hops (either may be null).
struct StopFlags {
  const std::atomic<bool>* first = nullptr;
  const std::atomic<bool>* second = nullptr;

  bool requested() const {
    return (first && first->load(std::memory_order_relaxed)) || (second && second->load(std::memory_order_relaxed));
  }
};

// Sample k of a hop that fades from signal `from` (the hop's filter column)
// to `to` (the next one), times the master gain `gain`: t = k / H and
// ((1 - t) from[k] + t to[k]) gain, formed in this order by every source.
inline double hopFade(const double* from, const double* to, std::int64_t k, double inverseHop, double gain) {
  const double t = static_cast<double>(k) * inverseHop;
  return ((1.0 - t) * from[k] + t * to[k]) * gain;
}

class BlockRenderer {
 public:
  virtual ~BlockRenderer() = default;

  // Binds to `inputs` (kept alive by the caller) and makes everything
  // renderBlock needs. Returns 0, 3 or 110 (inputs the renderer cannot
  // render).
  virtual ResultCode prepare(const RenderInputs& inputs) = 0;

  // Forgets what it keeps from earlier blocks; the next block starts
  // afresh.
  virtual void forget() = 0;

  // Renders block b into values[frame * channels + channel], frame 0 being
  // the block's first. Returns 0; 111 when `stop` was found set after a
  // hop that is not the output's last; or the failure (4, 8, 9, 110).
  // `framesDone` receives the frames whose values are complete in every
  // channel (all of the block's on success).
  virtual ResultCode renderBlock(std::int64_t b, double* values, const StopFlags& stop,
                                 std::int64_t& framesDone) = 0;

  // The picture rows block b of `job` reads: a session renders the block
  // again when any of them changes. By default those the filter design's
  // time mapping gives its hops' filter columns (engine/row_span.h); a
  // renderer that reads rows otherwise says which.
  virtual RowSpan rowsOfBlock(const RenderJob& job, std::int64_t b) const { return blockRows(job, b); }
};

// The renderer for the settings' source; nullptr when memory is short.
std::unique_ptr<BlockRenderer> makeBlockRenderer(const RenderSettings& settings);

}  // namespace vellomar
