// SPDX-License-Identifier: GPL-3.0-or-later
// Inside the FFT component: the library's planner behind one lock, the
// memory check made before it is called, and the making of single plans,
// shared by the plan sets and the wisdom maker.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <span>
#include <string>

#include "fft/fft.h"

namespace vellomar::planner {

// The lock around every call of the library other than executing a plan.
std::mutex& mutex();

// log2 of n for a supported size (a power of two 2 ... 2^30), else -1.
int log2Of(std::int64_t n);

// Whether `bytes` of fresh address space and memory can be had now: a
// private writable mapping of that size is made and given back at once,
// which fails under the same limits (address space, data size, strict
// overcommit) as the library's allocations would.
bool headroom(std::size_t bytes);

// What the planner is given before planning `transforms`: a generous
// bound of what it allocates (measured at under 1 MB for a pair of 65536
// points, estimated or measured).
std::size_t planningHeadroom(std::span<const FftTransform> transforms);

// Library flags.
enum class Kind { Estimate, FromWisdom, Measure };

// One plan of `kind`, made on arrays of the workspaces' alignment. Lock
// held and headroom checked by the caller. An empty plan when the library
// cannot make it (no wisdom for it, for FromWisdom) or the arrays cannot be
// had.
FftPlans::Plan make(FftDirection direction, std::int32_t n, Kind kind);
void destroy(FftPlans::Plan& plan);

// Forgets every plan choice the library has learnt or imported, so that
// estimated plans are the library's estimate alone (the planner would
// otherwise follow wisdom even when asked to estimate).
void forgetWisdom();
// Adds the choices recorded in `wisdom` (the library's text form). False,
// with nothing imported, when the library refuses the text.
bool importWisdom(const std::string& wisdom);
// The library's record of every choice it holds, in its text form; empty
// when memory is short.
std::string exportWisdom();

}  // namespace vellomar::planner
