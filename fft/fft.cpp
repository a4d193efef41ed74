#include "fft/fft.h"

#include <fftw3.h>

#include <array>
#include <atomic>
#include <cstring>
#include <mutex>

namespace vellomar {
namespace {

constexpr int kMaxLog2 = 30;

struct PlanPair {
  fftw_plan forward = nullptr;   // n reals -> n/2+1 complex, out of place
  fftw_plan inverse = nullptr;   // n/2+1 complex -> n reals, out of place
  int inAlignForward = 0;
  int outAlignInverse = 0;
};

std::array<std::atomic<PlanPair*>, kMaxLog2 + 1> gPlans{};
std::mutex gPlanMutex;

int log2Of(std::int32_t n) {
  if (n < 2 || (n & (n - 1)) != 0) return -1;
  int l = 0;
  while ((std::int32_t{1} << l) != n) ++l;
  return l <= kMaxLog2 ? l : -1;
}

// Scratch of one thread, grown to the largest size it has used.
struct Scratch {
  double* real = nullptr;           // n doubles
  fftw_complex* spec = nullptr;     // n/2 + 1 entries
  std::int32_t capacity = 0;
  ~Scratch() {
    fftw_free(real);
    fftw_free(spec);
  }
  bool reserve(std::int32_t n) {
    if (n <= capacity) return true;
    double* r = static_cast<double*>(fftw_malloc(sizeof(double) * static_cast<std::size_t>(n)));
    auto* s = static_cast<fftw_complex*>(fftw_malloc(sizeof(fftw_complex) * (static_cast<std::size_t>(n) / 2 + 1)));
    if (!r || !s) {
      fftw_free(r);
      fftw_free(s);
      return false;
    }
    fftw_free(real);
    fftw_free(spec);
    real = r;
    spec = s;
    capacity = n;
    return true;
  }
};

thread_local Scratch tScratch;

PlanPair* plansFor(std::int32_t n) {
  const int l = log2Of(n);
  if (l < 0) return nullptr;
  PlanPair* p = gPlans[static_cast<std::size_t>(l)].load(std::memory_order_acquire);
  if (p) return p;
  std::lock_guard<std::mutex> lock(gPlanMutex);
  p = gPlans[static_cast<std::size_t>(l)].load(std::memory_order_relaxed);
  if (p) return p;
  // Arrays of the plans' alignment, only for planning.
  Scratch arrays;
  if (!arrays.reserve(n)) return nullptr;
  auto* pair = new (std::nothrow) PlanPair;
  if (!pair) return nullptr;
  // Estimated plans: measuring makes a transform of 16384 about a third
  // faster but costs one to two seconds per size and process, more than a
  // default render spends in all its transforms.
  const unsigned flags = FFTW_ESTIMATE;
  pair->forward = fftw_plan_dft_r2c_1d(n, arrays.real, arrays.spec, flags | FFTW_PRESERVE_INPUT);
  pair->inverse = fftw_plan_dft_c2r_1d(n, arrays.spec, arrays.real, flags | FFTW_DESTROY_INPUT);
  pair->inAlignForward = fftw_alignment_of(arrays.real);
  pair->outAlignInverse = fftw_alignment_of(arrays.real);
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

bool prepareFft(std::int32_t n) {
  return plansFor(n) != nullptr && tScratch.reserve(n);
}

double fftReal(const double* input, double* output, std::int32_t n, std::int32_t) {
  PlanPair* p = plansFor(n);
  if (!p || !tScratch.reserve(n)) return 0.0;
  Scratch& sc = tScratch;
  const double* in = input;
  if (fftw_alignment_of(const_cast<double*>(input)) != p->inAlignForward) {
    std::memcpy(sc.real, input, sizeof(double) * static_cast<std::size_t>(n));
    in = sc.real;
  }
  // The plan preserves its input, so casting away const is safe.
  fftw_execute_dft_r2c(p->forward, const_cast<double*>(in), sc.spec);
  const double scale = 1.0 / static_cast<double>(n);
  const std::int32_t half = n / 2;
  for (std::int32_t k = 0; k < half; ++k) {
    output[2 * k] = sc.spec[k][0] * scale;
    output[2 * k + 1] = sc.spec[k][1] * scale;
  }
  return 0.0;
}

void ifftReal(const double* input, double* output, double, std::int32_t n) {
  PlanPair* p = plansFor(n);
  if (!p || !tScratch.reserve(n)) return;
  Scratch& sc = tScratch;
  const std::int32_t half = n / 2;
  std::memcpy(sc.spec, input, sizeof(fftw_complex) * static_cast<std::size_t>(half));
  sc.spec[half][0] = 0.0;
  sc.spec[half][1] = 0.0;
  // A real signal's DC term has no imaginary part; the c2r transform
  // ignores it, which is the real-part reading of a Hermitian spectrum.
  if (fftw_alignment_of(output) == p->outAlignInverse) {
    fftw_execute_dft_c2r(p->inverse, sc.spec, output);
  } else {
    fftw_execute_dft_c2r(p->inverse, sc.spec, sc.real);
    std::memcpy(output, sc.real, sizeof(double) * static_cast<std::size_t>(n));
  }
}

}  // namespace vellomar
