// SPDX-License-Identifier: GPL-3.0-or-later
#include "fft/planner.h"

#include <fftw3.h>
#include <sys/mman.h>

#include <cstdlib>
#include <new>
#include <string>

namespace vellomar::planner {
namespace {

// Arrays are aligned like the workspaces' scratch and the engine's buffers,
// so that plans made on them run on those directly.
constexpr std::align_val_t kAlignment{64};

double* allocate(std::size_t count) {
  return static_cast<double*>(::operator new(sizeof(double) * count, kAlignment, std::nothrow));
}
void release(double* p) { ::operator delete(p, kAlignment); }

}  // namespace

std::mutex& mutex() {
  static std::mutex m;
  return m;
}

int log2Of(std::int64_t n) {
  if (n < 2 || n > (std::int64_t{1} << 30) || (n & (n - 1)) != 0) return -1;
  int l = 0;
  while ((std::int64_t{1} << l) != n) ++l;
  return l;
}

bool headroom(std::size_t bytes) {
  void* p = ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (p == MAP_FAILED) return false;
  ::munmap(p, bytes);
  return true;
}

std::size_t planningHeadroom(std::span<const FftTransform> transforms) {
  std::size_t bytes = std::size_t{4} << 20;
  for (const FftTransform& t : transforms) bytes += 64 * static_cast<std::size_t>(t.n > 0 ? t.n : 0);
  return bytes;
}

FftPlans::Plan make(FftDirection direction, std::int32_t n, Kind kind) {
  FftPlans::Plan made;
  const auto un = static_cast<std::size_t>(n);
  double* real = allocate(un);
  double* complex = allocate(un + 2);
  if (!real || !complex) {
    release(real);
    release(complex);
    return made;
  }
  unsigned flags = kind == Kind::Estimate ? FFTW_ESTIMATE : FFTW_MEASURE;
  if (kind == Kind::FromWisdom) flags |= FFTW_WISDOM_ONLY;
  auto* spectrum = reinterpret_cast<fftw_complex*>(complex);
  // Out of place; the forward transform keeps its input, the inverse may
  // use its own as scratch (the workspace's).
  fftw_plan plan = direction == FftDirection::Forward
                       ? fftw_plan_dft_r2c_1d(n, real, spectrum, flags | FFTW_PRESERVE_INPUT)
                       : fftw_plan_dft_c2r_1d(n, spectrum, real, flags | FFTW_DESTROY_INPUT);
  made.plan = plan;
  made.alignment = fftw_alignment_of(real);
  release(real);
  release(complex);
  if (!plan) made = FftPlans::Plan{};
  return made;
}

void destroy(FftPlans::Plan& plan) {
  if (plan.plan) fftw_destroy_plan(static_cast<fftw_plan>(plan.plan));
  plan = FftPlans::Plan{};
}

void forgetWisdom() { fftw_forget_wisdom(); }

bool importWisdom(const std::string& wisdom) { return fftw_import_wisdom_from_string(wisdom.c_str()) != 0; }

std::string exportWisdom() {
  // The library's own string (from malloc): it checks that allocation,
  // unlike the planner's.
  char* text = fftw_export_wisdom_to_string();
  if (!text) return {};
  std::string copy;
  try {
    copy = text;
  } catch (const std::bad_alloc&) {
    copy.clear();
  }
  std::free(text);
  return copy;
}

}  // namespace vellomar::planner
