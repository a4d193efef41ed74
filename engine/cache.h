// SPDX-License-Identifier: GPL-3.0-or-later
// The filtered block cache: H samples of source block b filtered by
// column filter c, for segment s of the hop grid.
#pragma once

#include <cstdint>

#include "engine/result_code.h"

namespace vellomar {

struct RenderContext;

// Returns H = N / S samples of block b filtered by column c, starting at
// segment s of the hop grid, valid until the next call on the context; or
// nullptr with the failure in `result` (3, 4, 8, 9 or 110). A call that
// reads a block or designs a filter writes 0 into `result` on success.
const double* getFilteredSegment(RenderContext& context, std::int32_t b, std::int32_t c, std::int64_t s,
                                 ResultCode& result);

}  // namespace vellomar
