// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/cache.h"

#include <new>

#include "engine/cache_internal.h"
#include "engine/context.h"
#include "engine/design.h"
#include "engine/source.h"

namespace vellomar {
namespace {

// Makes `combined` hold X_b + (-1)^k X_{b-1} for block b (X_0 alone for
// block 0), reading block b - 1 first when the cache does not hold it.
ResultCode combineBlock(RenderContext& context, std::int32_t b) {
  FilteredBlockCache& cache = context.cache;
  double* spectrum = cache.spectrum.data();
  double* combined = cache.combined.data();
  const auto n = static_cast<std::size_t>(context.blockLength);
  if (b > 0 && cache.block != b - 1) {
    cache.block = -1;
    const ResultCode read = readSourceBlock(context, spectrum, b - 1);
    if (read != kResultOk) return read;
    cache.block = b - 1;
  }
  // The new block goes into `combined`; `spectrum` keeps it for the next.
  const ResultCode read = readSourceBlock(context, combined, b);
  if (read != kResultOk) return read;
  if (b == 0) {
    for (std::size_t i = 0; i < 2 * n; ++i) spectrum[i] = combined[i];
  } else {
    for (std::size_t i = 0; i < 2 * n; ++i) {
      // Entry k = i / 2: even bins add the previous block, odd bins
      // subtract it.
      const double x = combined[i];
      combined[i] = (i & 2) == 0 ? x + spectrum[i] : x - spectrum[i];
      spectrum[i] = x;
    }
  }
  cache.block = b;
  return kResultOk;
}

}  // namespace

bool makeCacheArrays(FilteredBlockCache& cache, std::size_t n) {
  cache = FilteredBlockCache{};
  try {
    cache.spectrum.assign(2 * n, 0.0);
    cache.combined.assign(2 * n, 0.0);
    cache.filter.assign(2 * n, 0.0);
    for (FilteredBlock& f : cache.filtered) f.samples.resize(2 * n);
  } catch (const std::bad_alloc&) {
    cache = FilteredBlockCache{};
    return false;
  }
  forgetCacheKeys(cache);
  cache.made = true;
  return true;
}

void forgetCacheKeys(FilteredBlockCache& cache) {
  cache.block = cache.columnKey = -1;
  for (FilteredBlock& f : cache.filtered) f.block = f.column = -1;
}

const double* getFilteredHop(RenderContext& context, std::int32_t b, std::int32_t c, std::int64_t s,
                             ResultCode& result) {
  const RenderJob* job = context.job;
  const std::int32_t blockLength = context.blockLength;
  if (!job || blockLength < 2 || b < 0) {
    result = kResultInternal;
    return nullptr;
  }
  const std::int64_t subBlocks = job->settings.subBlocksPerBlock;
  const std::int64_t r = s - static_cast<std::int64_t>(b) * subBlocks;
  if (r < 0 || r >= subBlocks) {
    result = kResultBadSegment;
    return nullptr;
  }
  const auto n = static_cast<std::size_t>(blockLength);
  const std::size_t at = static_cast<std::size_t>(r) * (n / static_cast<std::size_t>(subBlocks));
  FilteredBlockCache& cache = context.cache;

  // After a release the arrays are made anew.
  if (!cache.made && !makeCacheArrays(cache, n)) {
    result = kResultNoMemory;
    return nullptr;
  }
  for (int i = 0; i < 2; ++i) {
    if (cache.filtered[i].block == b && cache.filtered[i].column == c) {
      cache.newest = i;
      return cache.filtered[i].samples.data() + at;
    }
  }

  if (c != cache.columnKey) {
    result = designColumnFilter(context, cache.filter.data(), c);
    if (result != kResultOk) {
      cache.columnKey = -1;
      return nullptr;
    }
    cache.columnKey = c;
  }
  if (cache.block != b) {
    result = combineBlock(context, b);
    if (result != kResultOk) return nullptr;
  }

  // The product goes straight into the inverse transform's input, and the
  // result into the slot read less recently.
  const std::int32_t size = 2 * blockLength;
  double* out = context.fft.inverseInput(size);
  if (!out) {
    result = kResultNoMemory;
    return nullptr;
  }
  const double* p = cache.combined.data();
  const double* q = cache.filter.data();
  for (std::size_t k = 0; k < n; ++k) {
    const double pr = p[2 * k], pi = p[2 * k + 1];
    const double qr = q[2 * k], qi = q[2 * k + 1];
    out[2 * k] = pr * qr - qi * pi;
    out[2 * k + 1] = pr * qi + qr * pi;
  }
  const int slot = 1 - cache.newest;
  FilteredBlock& filtered = cache.filtered[slot];
  context.fft.inverseFromInput(filtered.samples.data(), size);
  filtered.block = b;
  filtered.column = c;
  cache.newest = slot;
  return filtered.samples.data() + at;
}

}  // namespace vellomar
