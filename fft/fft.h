// SPDX-License-Identifier: GPL-3.0-or-later
// Real-input FFT pair used by the whole engine.
//
// Contract
// - n is a power of two, 2 <= n <= 2^30. Other sizes write nothing.
// - Layout: a real sequence of n doubles corresponds to n/2 complex entries,
//   each two doubles (real, imaginary). Entry k is the coefficient of k/n
//   cycles per sample, k = 0 .. n/2-1. The coefficient at n/2 is not held:
//   the forward transform drops it and the inverse takes it as zero.
// - Scaling: the forward transform divides by n, the inverse is unscaled,
//   so inverse(forward(x)) returns x with its n/2 component removed.
// - The forward transform leaves its input unchanged and writes exactly n/2
//   entries (n doubles); the inverse leaves its input unchanged and writes
//   exactly n doubles. Input and output must not overlap.
// - Results are the same bits for the same input on every thread and in
//   every workspace: one plan per size serves the whole process.
//
// Workspaces
// - An FftWorkspace holds the scratch arrays of one thread of work. prepare
//   makes the plans of a size (once per process, under a lock: the planner
//   of the library behind this is not re-entrant) and sizes the scratch;
//   after it, transforms of every prepared size neither allocate nor fail.
//   A workspace is used by one thread at a time; any number of workspaces
//   may transform at once.
// - Allocation failure, of the plans or of the scratch, is prepare's false:
//   nothing else reports it, so every user of a workspace prepares first.
//
// The free functions fftReal and ifftReal transform through a workspace of
// the calling thread that prepares itself on first use; they suit tests and
// tools, where a failed allocation writing nothing is acceptable.
#pragma once

#include <cstdint>

namespace vellomar {

class FftWorkspace {
 public:
  FftWorkspace() = default;
  ~FftWorkspace();
  FftWorkspace(const FftWorkspace&) = delete;
  FftWorkspace& operator=(const FftWorkspace&) = delete;

  // Readies transforms of size n. False when n is not a supported size or
  // memory for the plans or the scratch is short (the workspace then keeps
  // what it had).
  bool prepare(std::int32_t n);
  // Whether transforms of size n are ready (prepared here, or smaller than a
  // prepared size whose plans exist).
  bool ready(std::int32_t n) const;

  // Forward transform of n real samples into n/2 complex entries. False,
  // writing nothing, when size n is not ready.
  bool forward(const double* input, double* output, std::int32_t n);
  // Inverse transform of n/2 complex entries into n real samples. False,
  // writing nothing, when size n is not ready.
  bool inverse(const double* input, double* output, std::int32_t n);

  // The inverse transform's own input array, for a caller that computes the
  // n/2 entries straight into it (saving a copy): fill entries 0 .. n/2-1,
  // then call inverseFromInput. Null when size n is not ready.
  double* inverseInput(std::int32_t n);
  bool inverseFromInput(double* output, std::int32_t n);

 private:
  bool reserve(std::int32_t n);

  double* real_ = nullptr;     // n doubles
  double* complex_ = nullptr;  // n/2 + 1 complex entries
  std::int32_t capacity_ = 0;
};

// Forward transform through the calling thread's own workspace. The last
// argument is reserved and must be 0. Returns 0.0.
double fftReal(const double* input, double* output, std::int32_t n, std::int32_t reserved = 0);

// Inverse transform through the calling thread's own workspace. The third
// argument is reserved and must be 0.0.
void ifftReal(const double* input, double* output, double reserved, std::int32_t n);

// Readies size n for fftReal and ifftReal on the calling thread. False when
// n is not a supported size or memory is short.
bool prepareFft(std::int32_t n);

}  // namespace vellomar
