// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/filter_renderer.h"

#include <algorithm>

#include "engine/cache.h"

namespace vellomar {

ResultCode FilterBlockRenderer::prepare(const RenderInputs& inputs) {
  inputs_ = inputs;
  forget();
  if (!inputs.job || inputs.channels < 1 || inputs.channels > kMaxChannels) return kResultInternal;
  layout_ = BlockLayout::of(*inputs.job);
  for (int c = 0; c < inputs.channels; ++c) {
    const ResultCode result =
        inputs.plans ? configureRenderContext(contexts_[c], *inputs.job, inputs.gains[c], *inputs.plans)
                     : configureRenderContext(contexts_[c], *inputs.job, inputs.gains[c]);
    if (result != kResultOk) return result;
    // Each channel of a stereo input is read by its own channel's context.
    contexts_[c].inputChannel = inputs.job->inputChannels > 1 ? c : 0;
  }
  return kResultOk;
}

void FilterBlockRenderer::forget() {
  for (std::int64_t& next : next_) next = -1;
}

ResultCode FilterBlockRenderer::renderBlock(std::int64_t b, double* values, const StopFlags& stop,
                                            std::int64_t& framesDone) {
  const int channels = inputs_.channels;
  framesDone = 0;
  std::int64_t least = layout_.frameCount(b);
  for (int c = 0; c < channels; ++c) {
    std::int64_t done = 0;
    const ResultCode result = renderChannel(c, b, values + c, static_cast<std::size_t>(channels), stop, done);
    least = std::min(least, done);
    if (result != kResultOk) {
      // Channels after this one have nothing of the block.
      framesDone = c + 1 < channels ? 0 : least;
      return result;
    }
  }
  framesDone = least;
  return kResultOk;
}

ResultCode FilterBlockRenderer::renderChannel(int c, std::int64_t b, double* out, std::size_t stride,
                                              const StopFlags& stop, std::int64_t& framesDone) {
  RenderContext& context = contexts_[c];
  framesDone = 0;
  if (!context.job || context.blockLength == 0) return kResultInternal;
  const RenderJob& job = *context.job;
  const std::int64_t n = job.settings.blockLength;
  const std::int64_t s = job.settings.subBlocksPerBlock;
  const std::int64_t h = n / s;
  const double inverseHop = 1.0 / static_cast<double>(h);
  const double g = masterGainFactor(job.settings.masterGainDb);
  // Output frame k is timeline sample k + N/2; the output ends at this
  // timeline position.
  const std::int64_t end = static_cast<std::int64_t>(job.sampleCount) + n / 2;
  // Timeline sample of the block's first frame.
  const std::int64_t blockStart = layout_.firstFrame(b) + n / 2;
  const auto block = static_cast<std::int32_t>(b);

  ResultCode result = kResultOk;
  if (next_[c] != b) {
    // A wave read in order from its stream has only its next samples.
    if (context.inputOffset < 0 && job.settings.inputSource == InputSource::WaveFile && b != 0) return kResultInternal;
    resetFilteredBlockCache(context);
    // The cache reads the block before first, whose tail the block's first
    // hops add.
    seekSource(context, block > 0 ? block - 1 : 0);
  }
  next_[c] = -1;
  for (std::int64_t j = 0; j < s; ++j) {
    if (b == 0 && j < s / 2) continue;  // before output frame 0
    const std::int64_t u = b * s + j;
    const std::int64_t hopStart = b * n + j * h;
    const bool last = hopStart + h >= end;

    // The hop fades from filter column u (x) to column u + 1 (y).
    const auto column = static_cast<std::int32_t>(u);
    const double* x = getFilteredHop(context, block, column, u, result);
    const double* y = x ? getFilteredHop(context, block, column + 1, u, result) : nullptr;
    if (!y) return result;

    const std::int64_t first = b == 0 ? std::max<std::int64_t>(0, n / 2 - j * h) : 0;
    const std::int64_t stopAt = last ? end - hopStart : h;
    double* at = out + static_cast<std::size_t>(hopStart + first - blockStart) * stride;
    for (std::int64_t k = first; k < stopAt; ++k, at += stride) *at = hopFade(x, y, k, inverseHop, g);
    framesDone = hopStart + stopAt - blockStart;
    if (last) break;
    if (stop.requested()) return kResultAborted;
  }
  next_[c] = b + 1;
  return kResultOk;
}

}  // namespace vellomar
