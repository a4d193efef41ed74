// SPDX-License-Identifier: GPL-3.0-or-later
// Which picture rows a filter column, and so a block of output, reads: the
// time mapping of the column filter design, on its own, so that a render
// can tell which blocks a change of some rows reaches.
#pragma once

#include <cstdint>

#include "engine/result_code.h"
#include "engine/settings.h"

namespace vellomar {

// The slot of filter column u in fractional rows [lo, hi] of a picture of
// `height` > 1 rows (row 0 at the start of the output, row height - 1 at
// its end), kept inside the picture as the design keeps it. Returns 0, or
// 9 when the slot is empty even in double precision.
ResultCode columnSlot(const RenderSettings& settings, std::uint32_t sampleCount, std::uint32_t height,
                      std::int32_t u, float& lo, float& hi);

// Rows first ... last of the picture, row 0 the top one.
struct RowSpan {
  std::int32_t first = 0;
  std::int32_t last = -1;  // last < first: no rows

  bool meets(const RowSpan& other) const {
    return first <= last && other.first <= other.last && first <= other.last && other.first <= last;
  }
};

// The rows whose gains the design of filter column u reads for `job`'s
// picture: every row its slot's mean takes a value of (row 0 alone for a
// one-row picture). All rows when the slot is empty.
RowSpan columnRows(const RenderJob& job, std::int32_t u);

// The rows block b of `job`'s render reads: those of its hops' filter
// columns b * S ... b * S + S.
RowSpan blockRows(const RenderJob& job, std::int64_t b);

}  // namespace vellomar
