// Source blocks: the next N samples of the input wave or of the noise
// generator, zero-padded to 2N and transformed to N complex entries.
#pragma once

#include <cstdint>

#include "engine/result_code.h"
#include "engine/settings.h"

namespace vellomar {

// Fills `spectrum` (N complex entries, N = renderSettings.blockLength) with
// the transform of source block k. Blocks must be asked for in sequence:
// k = 0 at any time, otherwise the previous block + 1 (else 110). Returns 0,
// 3 (no memory), 4 (the input ran short) or 110.
ResultCode readSourceBlock(const RenderJob& job, double* spectrum, std::int32_t k);

// One sample of the bell-shaped noise generator (about +-32725.69); advances
// randomSeed.
double nextNoiseSample();

// Forgets the source block buffer and the sequence position (tests and
// the end of the program).
void releaseSourceBlock();

}  // namespace vellomar
