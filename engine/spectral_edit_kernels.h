// SPDX-License-Identifier: GPL-3.0-or-later
// The spectral edit's per-frame arithmetic over whole arrays. Each element
// gets exactly the operations a plain loop would give it, in the same
// order, so the results are the same bits; the loops are written four
// elements a step over unaliased arrays so that the compiler can do them
// two or four at a time without checks.
#pragma once

#include <cstddef>

namespace vellomar::edit_kernels {

// out[i] = a[i] * b[i], i < count.
inline void multiply(double* __restrict out, const double* __restrict a, const double* __restrict b,
                     std::size_t count) {
  std::size_t i = 0;
  for (; i + 4 <= count; i += 4) {
    out[i] = a[i] * b[i];
    out[i + 1] = a[i + 1] * b[i + 1];
    out[i + 2] = a[i + 2] * b[i + 2];
    out[i + 3] = a[i + 3] * b[i + 3];
  }
  for (; i < count; ++i) out[i] = a[i] * b[i];
}

// out[i] += a[i] * b[i], i < count.
inline void multiplyAdd(double* __restrict out, const double* __restrict a, const double* __restrict b,
                        std::size_t count) {
  std::size_t i = 0;
  for (; i + 4 <= count; i += 4) {
    out[i] += a[i] * b[i];
    out[i + 1] += a[i + 1] * b[i + 1];
    out[i + 2] += a[i + 2] * b[i + 2];
    out[i + 3] += a[i + 3] * b[i + 3];
  }
  for (; i < count; ++i) out[i] += a[i] * b[i];
}

// Complex entries scaled by real gains: out[2k + c] = gain[k] * in[2k + c],
// k < count, c = 0, 1.
inline void scaleComplex(double* __restrict out, const double* __restrict gain, const double* __restrict in,
                         std::size_t count) {
  std::size_t k = 0;
  for (; k + 2 <= count; k += 2) {
    out[2 * k] = gain[k] * in[2 * k];
    out[2 * k + 1] = gain[k] * in[2 * k + 1];
    out[2 * k + 2] = gain[k + 1] * in[2 * k + 2];
    out[2 * k + 3] = gain[k + 1] * in[2 * k + 3];
  }
  for (; k < count; ++k) {
    out[2 * k] = gain[k] * in[2 * k];
    out[2 * k + 1] = gain[k] * in[2 * k + 1];
  }
}

}  // namespace vellomar::edit_kernels
