// SPDX-License-Identifier: GPL-3.0-or-later
// Source blocks: the next N samples of the input wave or of the noise
// generator, zero-padded to 2N and transformed to N complex entries.
#pragma once

#include <cstdint>

#include "engine/result_code.h"

namespace vellomar {

struct RenderContext;

// Fills `spectrum` (N complex entries) with the transform of source block k
// of the context's job. Blocks must be asked for in sequence: k = 0 at any
// time, otherwise the previous block + 1 (else 110). Returns 0, 3 (the
// context has no buffer), 4 (the input ran short) or 110.
ResultCode readSourceBlock(RenderContext& context, double* spectrum, std::int32_t k);

// One sample of the bell-shaped noise generator (about +-32725.69);
// advances `state` (1 ... 2^31 - 2) by one step.
double nextNoiseSample(std::int32_t& state);

// The generator state `steps` steps after `state`, as many calls of
// nextNoiseSample would leave it, in O(log steps). `state` must lie in
// 1 ... 2^31 - 2.
std::int32_t advanceNoiseState(std::int32_t state, std::uint64_t steps);

// Whether `state` is a state of the generator (1 ... 2^31 - 2).
bool validNoiseState(std::int32_t state);

// The mean square of the generator's samples over its whole period (every
// state once), in closed form from its segment table: about 1.2301e8, an
// RMS of about 11090.8. White noise of this power per sample is the level
// against which sounds are measured.
double noiseMeanSquare();

}  // namespace vellomar
