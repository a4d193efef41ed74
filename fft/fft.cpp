// SPDX-License-Identifier: GPL-3.0-or-later
#include "fft/fft.h"

#include <fftw3.h>

#include <array>
#include <atomic>
#include <cstring>
#include <mutex>
#include <new>

namespace vellomar {
namespace {

constexpr int kMaxLog2 = 30;
// Scratch arrays are aligned like the library's own allocations, so the
// plans (made on such arrays) run on them directly.
constexpr std::align_val_t kScratchAlignment{64};

struct PlanPair {
  fftw_plan forward = nullptr;  // n reals -> n/2+1 complex, out of place, input preserved
  fftw_plan inverse = nullptr;  // n/2+1 complex -> n reals, out of place, input destroyed
  int alignment = 0;            // alignment class of the arrays the plans were made on
};

std::array<std::atomic<PlanPair*>, kMaxLog2 + 1> gPlans{};
std::mutex gPlanMutex;

int log2Of(std::int32_t n) {
  if (n < 2 || (n & (n - 1)) != 0) return -1;
  int l = 0;
  while ((std::int32_t{1} << l) != n) ++l;
  return l <= kMaxLog2 ? l : -1;
}

PlanPair* existingPlans(std::int32_t n) {
  const int l = log2Of(n);
  if (l < 0) return nullptr;
  return gPlans[static_cast<std::size_t>(l)].load(std::memory_order_acquire);
}

double* allocateDoubles(std::size_t count) {
  return static_cast<double*>(::operator new(sizeof(double) * count, kScratchAlignment, std::nothrow));
}

void freeDoubles(double* p) { ::operator delete(p, kScratchAlignment); }

// The plans of size n, made on first request. Null when n is unsupported or
// the library could not make them.
PlanPair* plansFor(std::int32_t n) {
  if (PlanPair* p = existingPlans(n)) return p;
  const int l = log2Of(n);
  if (l < 0) return nullptr;
  std::lock_guard<std::mutex> lock(gPlanMutex);
  PlanPair* p = gPlans[static_cast<std::size_t>(l)].load(std::memory_order_relaxed);
  if (p) return p;
  // Arrays of the scratch's alignment, only for planning.
  const auto un = static_cast<std::size_t>(n);
  double* real = allocateDoubles(un);
  double* complex = allocateDoubles(un + 2);
  auto* pair = new (std::nothrow) PlanPair;
  if (!real || !complex || !pair) {
    freeDoubles(real);
    freeDoubles(complex);
    delete pair;
    return nullptr;
  }
  auto* spec = reinterpret_cast<fftw_complex*>(complex);
  // Estimated plans: a measured plan is faster but differs from run to run
  // and machine to machine, and so would the last bits of every render.
  const unsigned flags = FFTW_ESTIMATE;
  pair->forward = fftw_plan_dft_r2c_1d(n, real, spec, flags | FFTW_PRESERVE_INPUT);
  pair->inverse = fftw_plan_dft_c2r_1d(n, spec, real, flags | FFTW_DESTROY_INPUT);
  pair->alignment = fftw_alignment_of(real);
  freeDoubles(real);
  freeDoubles(complex);
  if (!pair->forward || !pair->inverse) {
    if (pair->forward) fftw_destroy_plan(pair->forward);
    if (pair->inverse) fftw_destroy_plan(pair->inverse);
    delete pair;
    return nullptr;
  }
  gPlans[static_cast<std::size_t>(l)].store(pair, std::memory_order_release);
  return pair;
}

}  // namespace

FftWorkspace::~FftWorkspace() {
  freeDoubles(real_);
  freeDoubles(complex_);
}

bool FftWorkspace::reserve(std::int32_t n) {
  if (n <= capacity_) return true;
  const auto un = static_cast<std::size_t>(n);
  double* real = allocateDoubles(un);
  double* complex = allocateDoubles(un + 2);
  if (!real || !complex) {
    freeDoubles(real);
    freeDoubles(complex);
    return false;
  }
  freeDoubles(real_);
  freeDoubles(complex_);
  real_ = real;
  complex_ = complex;
  capacity_ = n;
  return true;
}

bool FftWorkspace::prepare(std::int32_t n) { return plansFor(n) != nullptr && reserve(n); }

bool FftWorkspace::ready(std::int32_t n) const { return n <= capacity_ && existingPlans(n) != nullptr; }

bool FftWorkspace::forward(const double* input, double* output, std::int32_t n) {
  PlanPair* p = existingPlans(n);
  if (!p || n > capacity_) return false;
  const double* in = input;
  if (fftw_alignment_of(const_cast<double*>(input)) != p->alignment) {
    std::memcpy(real_, input, sizeof(double) * static_cast<std::size_t>(n));
    in = real_;
  }
  auto* spec = reinterpret_cast<fftw_complex*>(complex_);
  // The plan preserves its input, so casting away const is safe.
  fftw_execute_dft_r2c(p->forward, const_cast<double*>(in), spec);
  const double scale = 1.0 / static_cast<double>(n);
  const std::int32_t half = n / 2;
  for (std::int32_t k = 0; k < half; ++k) {
    output[2 * k] = spec[k][0] * scale;
    output[2 * k + 1] = spec[k][1] * scale;
  }
  return true;
}

double* FftWorkspace::inverseInput(std::int32_t n) { return ready(n) ? complex_ : nullptr; }

bool FftWorkspace::inverseFromInput(double* output, std::int32_t n) {
  PlanPair* p = existingPlans(n);
  if (!p || n > capacity_) return false;
  auto* spec = reinterpret_cast<fftw_complex*>(complex_);
  const std::int32_t half = n / 2;
  spec[half][0] = 0.0;
  spec[half][1] = 0.0;
  // A real signal's DC term has no imaginary part; the c2r transform
  // ignores it, which is the real-part reading of a Hermitian spectrum.
  if (fftw_alignment_of(output) == p->alignment) {
    fftw_execute_dft_c2r(p->inverse, spec, output);
  } else {
    fftw_execute_dft_c2r(p->inverse, spec, real_);
    std::memcpy(output, real_, sizeof(double) * static_cast<std::size_t>(n));
  }
  return true;
}

bool FftWorkspace::inverse(const double* input, double* output, std::int32_t n) {
  double* in = inverseInput(n);
  if (!in) return false;
  std::memcpy(in, input, sizeof(double) * static_cast<std::size_t>(n));
  return inverseFromInput(output, n);
}

namespace {
FftWorkspace& threadWorkspace() {
  thread_local FftWorkspace workspace;
  return workspace;
}
}  // namespace

bool prepareFft(std::int32_t n) { return threadWorkspace().prepare(n); }

double fftReal(const double* input, double* output, std::int32_t n, std::int32_t) {
  FftWorkspace& ws = threadWorkspace();
  if (ws.prepare(n)) ws.forward(input, output, n);
  return 0.0;
}

void ifftReal(const double* input, double* output, double, std::int32_t n) {
  FftWorkspace& ws = threadWorkspace();
  if (ws.prepare(n)) ws.inverse(input, output, n);
}

}  // namespace vellomar
