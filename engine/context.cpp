// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/context.h"


#include <new>

#include "engine/cache_internal.h"
#include "engine/design_internal.h"
#include "engine/positional_read.h"
#include "engine/source.h"

namespace vellomar {

bool inputReadableByPosition(const RenderJob& job) { return streamReadableByPosition(job.input); }

ResultCode configureRenderContext(RenderContext& context, const RenderJob& job, const float* gains) {
  const std::int32_t n = job.settings.blockLength;
  const std::int32_t s = job.settings.subBlocksPerBlock;
  context.job = &job;
  context.gains = gains;
  context.blockLength = 0;
  // The pink table needs N >= 4; the hops must tile each block exactly.
  if (!isPowerOfTwo(n) || n < 4 || n > (1 << 29) || s < 1 || s > n || n % s != 0) return kResultInternal;
  const auto un = static_cast<std::size_t>(n);
  const auto hop = static_cast<std::size_t>(n / s);

  if (!context.fft.prepare(n) || !context.fft.prepare(2 * n)) return kResultNoMemory;
  try {
    context.sourceBuffer.assign(2 * un, 0.0);
    context.hopX.assign(hop, 0.0);
    context.hopY.assign(hop, 0.0);
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

void resetFilteredBlockCache(RenderContext& context) {
  FilteredBlockCache& cache = context.cache;
  cache.a.key = cache.b.key = cache.columnKey = -1;
  cache.a.filteredValid = cache.b.filteredValid = false;
}

}  // namespace vellomar
