// Real-input FFT pair used by the whole engine.
//
// Contract
// - n is a power of two, 2 <= n <= 2^30. Other sizes write nothing.
// - Layout: a real sequence of n doubles corresponds to n/2 complex entries,
//   each two doubles (real, imaginary). Entry k is the coefficient of k/n
//   cycles per sample, k = 0 .. n/2-1. The coefficient at n/2 is not held:
//   fftReal drops it and ifftReal takes it as zero.
// - Scaling: the forward transform divides by n, the inverse is unscaled,
//   so ifftReal(fftReal(x)) returns x with its n/2 component removed.
// - fftReal leaves its input unchanged and writes exactly n/2 entries
//   (n doubles); ifftReal leaves its input unchanged and writes exactly
//   n doubles. Input and output must not overlap.
// - Thread safety: any thread may call either function at any time. Plans
//   are made once per size (under a lock, FFTW's planner is not
//   re-entrant) and reused; each thread keeps its own scratch buffers, so
//   after the first call of a size on a thread no call allocates.
#pragma once

#include <cstdint>

namespace vellomar {

// Forward transform of n real samples into n/2 complex entries. The last
// argument is reserved and must be 0. Returns 0.0.
double fftReal(const double* input, double* output, std::int32_t n, std::int32_t reserved = 0);

// Inverse transform of n/2 complex entries into n real samples. The
// third argument is reserved and must be 0.0.
void ifftReal(const double* input, double* output, double reserved, std::int32_t n);

// Makes the plans and this thread's scratch buffers for size n ahead of
// time. Returns false when n is not a supported size.
bool prepareFft(std::int32_t n);

}  // namespace vellomar
