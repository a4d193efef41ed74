// The filtered block cache: H samples of source block b filtered by
// column filter c, for segment s of the hop grid.
#pragma once

#include <cstdint>

#include "engine/result_code.h"
#include "engine/settings.h"

namespace vellomar {

// With job == nullptr releases the cache and returns nullptr (result is left
// alone). Otherwise returns H = N / S samples, valid until the next call, or
// nullptr with the failure in `result` (3, 4, 8, 9 or 110). A call that reads
// a block or designs a filter writes 0 into `result` on success.
const double* getFilteredSegment(const RenderJob* job, std::int32_t b, std::int32_t c, std::int64_t s,
                                 ResultCode& result, const float* gains);

}  // namespace vellomar
