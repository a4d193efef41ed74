// SPDX-License-Identifier: GPL-3.0-or-later
// Inside the filtered block cache: making its arrays, for the context.
#pragma once

#include <cstddef>

namespace vellomar {

struct FilteredBlockCache;

// Makes the cache's arrays for block length n (the spectra as zeros) and
// forgets every key. False, with the cache released, when memory is short.
bool makeCacheArrays(FilteredBlockCache& cache, std::size_t n);

// Forgets the cache's block, filter and filtered blocks, keeping its arrays.
void forgetCacheKeys(FilteredBlockCache& cache);

}  // namespace vellomar
