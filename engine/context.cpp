// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/context.h"

#include <new>

#include "engine/cache_internal.h"
#include "engine/design_internal.h"
#include "engine/positional_read.h"
#include "engine/source.h"

namespace vellomar {

bool inputReadableByPosition(const RenderJob& job) { return streamReadableByPosition(job.input); }

namespace {

// Block length and sub-block count the engine can use: the pink table
// needs N >= 4, and the hops must tile each block exactly.
bool usableGrid(std::int32_t n, std::int32_t s) {
  return isPowerOfTwo(n) && n >= 4 && n <= (1 << 29) && s >= 1 && s <= n && n % s == 0;
}

}  // namespace

std::array<FftTransform, 3> renderTransforms(std::int32_t n) {
  return {FftTransform{FftDirection::Inverse, n}, FftTransform{FftDirection::Forward, 2 * n},
          FftTransform{FftDirection::Inverse, 2 * n}};
}

ResultCode configureRenderContext(RenderContext& context, const RenderJob& job, const float* gains,
                                  const FftPlans& plans) {
  const std::int32_t n = job.settings.blockLength;
  const std::int32_t s = job.settings.subBlocksPerBlock;
  context.job = &job;
  context.gains = gains;
  context.blockLength = 0;
  if (!usableGrid(n, s)) return kResultInternal;
  for (const FftTransform& t : renderTransforms(n)) {
    if (!plans.has(t.direction, t.n)) return kResultInternal;
  }
  const auto un = static_cast<std::size_t>(n);
  const auto hop = static_cast<std::size_t>(n / s);

  if (!context.fft.prepare(plans)) return kResultNoMemory;
  try {
    context.sourceBuffer.assign(2 * un, 0.0);
    context.hopBytes.assign(2 * hop, 0);
  } catch (const std::bad_alloc&) {
    return kResultNoMemory;
  }
  if (!makeCacheArrays(context.cache, un)) return kResultNoMemory;
  const ResultCode design = prepareDesignWorkspace(context.design, job);
  if (design != kResultOk) return design;

  if (!inputReadableByPosition(job)) {
    context.inputOffset = -1;
  } else {
    context.inputOffset = job.inputOffset >= 0 ? job.inputOffset : static_cast<std::int64_t>(::ftello(job.input));
  }
  context.blockLength = n;
  seekSource(context, 0);
  return kResultOk;
}

ResultCode makeRenderPlans(FftPlans& plans, const RenderJob& job) {
  const std::int32_t n = job.settings.blockLength;
  if (!usableGrid(n, job.settings.subBlocksPerBlock)) return kResultInternal;
  return plans.make(renderTransforms(n), job.plans) ? kResultOk : kResultNoMemory;
}

ResultCode configureRenderContext(RenderContext& context, const RenderJob& job, const float* gains) {
  context.job = &job;
  context.blockLength = 0;
  if (!context.ownPlans) {
    context.ownPlans.reset(new (std::nothrow) FftPlans);
    if (!context.ownPlans) return kResultNoMemory;
  }
  const ResultCode planned = makeRenderPlans(*context.ownPlans, job);
  if (planned != kResultOk) return planned;
  return configureRenderContext(context, job, gains, *context.ownPlans);
}

void seekSource(RenderContext& context, std::int32_t k) {
  context.lastBlockRead = k - 1;
  const RenderJob* job = context.job;
  if (!job) return;
  context.noiseState = job->noiseState;
  const bool noise = job->settings.inputSource != InputSource::WaveFile;
  if (noise && k > 0 && validNoiseState(job->noiseState)) {
    const std::uint64_t steps = static_cast<std::uint64_t>(k) * static_cast<std::uint64_t>(job->settings.blockLength);
    context.noiseState = advanceNoiseState(job->noiseState, steps);
  }
}

void releaseFilteredBlockCache(RenderContext& context) { context.cache = FilteredBlockCache{}; }

void resetFilteredBlockCache(RenderContext& context) { forgetCacheKeys(context.cache); }

}  // namespace vellomar
