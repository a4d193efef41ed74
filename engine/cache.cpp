// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/cache.h"

#include <new>

#include "engine/cache_internal.h"
#include "engine/context.h"
#include "engine/design.h"
#include "engine/source.h"

namespace vellomar {

bool makeCacheArrays(FilteredBlockCache& cache, std::size_t n) {
  cache = FilteredBlockCache{};
  try {
    cache.a.spectrum.assign(2 * n, 0.0);
    cache.b.spectrum.assign(2 * n, 0.0);
    cache.filter.assign(2 * n, 0.0);
    cache.a.filtered.resize(2 * n);
    cache.b.filtered.resize(2 * n);
  } catch (const std::bad_alloc&) {
    cache = FilteredBlockCache{};
    return false;
  }
  cache.made = true;
  return true;
}

const double* getFilteredSegment(RenderContext& context, std::int32_t b, std::int32_t c, std::int64_t s,
                                 ResultCode& result) {
  const RenderJob* job = context.job;
  const std::int32_t blockLength = context.blockLength;
  if (!job || blockLength < 2) {
    result = kResultInternal;
    return nullptr;
  }
  const std::int32_t subBlocks = job->settings.subBlocksPerBlock;
  const auto n = static_cast<std::size_t>(blockLength);
  FilteredBlockCache& cache = context.cache;

  // After a release the arrays are made anew.
  if (!cache.made && !makeCacheArrays(cache, n)) {
    result = kResultNoMemory;
    return nullptr;
  }

  if (c != cache.columnKey) {
    cache.a.filteredValid = cache.b.filteredValid = false;
    result = designColumnFilter(context, cache.filter.data(), c);
    if (result != kResultOk) {
      cache.columnKey = -1;
      return nullptr;
    }
    cache.columnKey = c;
  }

  SourceSlot* slot = nullptr;
  if (cache.a.key == b) {
    slot = &cache.a;
  } else if (cache.b.key == b) {
    slot = &cache.b;
  } else {
    // The older block goes; with both empty, B is filled first.
    slot = cache.a.key < cache.b.key ? &cache.a : &cache.b;
    slot->key = b;
    slot->filteredValid = false;
    result = readSourceBlock(context, slot->spectrum.data(), b);
    if (result != kResultOk) {
      slot->key = -1;
      return nullptr;
    }
  }

  if (!slot->filteredValid) {
    // The product goes straight into the inverse transform's input.
    const std::int32_t size = 2 * blockLength;
    double* out = context.fft.inverseInput(size);
    if (!out) {
      result = kResultNoMemory;
      return nullptr;
    }
    const double* p = slot->spectrum.data();
    const double* q = cache.filter.data();
    for (std::size_t k = 0; k < n; ++k) {
      const double pr = p[2 * k], pi = p[2 * k + 1];
      const double qr = q[2 * k], qi = q[2 * k + 1];
      out[2 * k] = pr * qr - qi * pi;
      out[2 * k + 1] = pr * qi + qr * pi;
    }
    context.fft.inverseFromInput(slot->filtered.data(), size);
    slot->filteredValid = true;
  }

  const std::int64_t r = s - static_cast<std::int64_t>(b) * subBlocks;
  if (r < 0 || r >= 2 * static_cast<std::int64_t>(subBlocks)) {
    result = kResultBadSegment;
    return nullptr;
  }
  const std::size_t hop = n / static_cast<std::size_t>(subBlocks);
  return slot->filtered.data() + static_cast<std::size_t>(r) * hop;
}

}  // namespace vellomar
