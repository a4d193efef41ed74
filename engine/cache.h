// SPDX-License-Identifier: GPL-3.0-or-later
// The filtered block cache: one hop of output under one column filter,
// by overlap-save.
//
// Block b's filtered signal with the tail of block b - 1 already added
// comes from one inverse transform of length 2N: with X_b the spectrum of
// block b (N samples and N zeros), the product (X_b + (-1)^k X_{b-1}) F
// transforms back to y_b + y_{b-1} shifted by N, whose first N samples are
// block b's span of the overlap-added output (multiplying bin k by (-1)^k
// shifts a 2N-point signal by N). So a hop costs one inverse transform per
// new column instead of one per block and column.
#pragma once

#include <cstdint>

#include "engine/result_code.h"

namespace vellomar {

struct RenderContext;

// Returns the H = N / S samples of hop s of the output timeline (s = b * S
// ... b * S + S - 1, the hops of block b) filtered by column c: block b's
// filtered samples plus the tail of block b - 1 under the same filter
// (nothing before block 0). The pointer stays valid until the second call
// after this one: the cache holds the two latest filtered blocks, so both
// columns of a hop can be read side by side.
//
// Or nullptr, with the failure in `result`: 3, 4, 8 (s outside block b's
// hops), 9 or 110. A call that reads a block or designs a filter writes 0
// into `result` on success.
//
// Blocks are read in order: asking for block b reads block b - 1 first
// unless the cache holds it, so a context whose source stands at block
// b - 1 can start anywhere.
const double* getFilteredHop(RenderContext& context, std::int32_t b, std::int32_t c, std::int64_t s,
                             ResultCode& result);

}  // namespace vellomar
