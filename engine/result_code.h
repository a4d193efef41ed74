// SPDX-License-Identifier: GPL-3.0-or-later
// Result codes returned by every engine operation. 0 is success; the
// files layer turns the others into words for the user.
#pragma once

#include <cstdint>

namespace vellomar {

using ResultCode = std::int32_t;

inline constexpr ResultCode kResultOk = 0;
inline constexpr ResultCode kResultNoMemory = 3;         // an allocation failed
inline constexpr ResultCode kResultShortRead = 4;        // input delivered fewer samples than promised
inline constexpr ResultCode kResultWriteFailed = 7;      // the output stream reported an error
inline constexpr ResultCode kResultBadSegment = 8;       // segment index outside a block's 2S segments
inline constexpr ResultCode kResultEmptyTimeSpan = 9;    // a filter's time span is empty
inline constexpr ResultCode kResultInternal = 110;       // no picture, block out of sequence, bad scale
inline constexpr ResultCode kResultAborted = 111;        // the user aborted the render

}  // namespace vellomar
