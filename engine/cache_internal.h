// SPDX-License-Identifier: GPL-3.0-or-later
// Inside the filtered block cache: making its arrays, for the context.
#pragma once

#include <cstddef>

namespace vellomar {

struct FilteredBlockCache;

// Makes the cache's five arrays for block length n (the three spectra as
// zeros) and forgets every key. False, with the cache released, when
// memory is short.
bool makeCacheArrays(FilteredBlockCache& cache, std::size_t n);

}  // namespace vellomar
