// SPDX-License-Identifier: GPL-3.0-or-later
#include "fft/fft.h"

#include <fftw3.h>

#include <atomic>
#include <cstring>
#include <new>

#include "fft/planner.h"
#include "fft/wisdom.h"

namespace vellomar {
namespace {

constexpr int kSizes = 31;
// Scratch arrays are aligned like the planner's arrays, so the plans run on
// them directly.
constexpr std::align_val_t kScratchAlignment{64};

std::size_t indexOf(FftDirection direction, int log2) {
  return static_cast<std::size_t>(direction == FftDirection::Forward ? 0 : kSizes) + static_cast<std::size_t>(log2);
}

// Transforms done, by direction and log2 of the size.
std::array<std::atomic<std::uint64_t>, 2 * kSizes> gCounts{};

void count(FftDirection direction, std::int32_t n) {
  const int l = planner::log2Of(n);
  if (l >= 0) gCounts[indexOf(direction, l)].fetch_add(1, std::memory_order_relaxed);
}

double* allocateDoubles(std::size_t count) {
  return static_cast<double*>(::operator new(sizeof(double) * count, kScratchAlignment, std::nothrow));
}

void freeDoubles(double* p) { ::operator delete(p, kScratchAlignment); }

// The process-wide estimated plans, one per direction and size, made on
// first request and kept for the process's life: the plans of prepare(n)
// and of every estimated plan set. Estimated plans depend on nothing but
// the transform, so one of each serves every render.
std::array<std::atomic<FftPlans::Plan*>, 2 * kSizes> gDefaultPlans{};

const FftPlans::Plan* defaultPlan(FftDirection direction, std::int32_t n) {
  const int l = planner::log2Of(n);
  if (l < 0) return nullptr;
  return gDefaultPlans[indexOf(direction, l)].load(std::memory_order_acquire);
}

// The default plan of one transform, made if need be: lock held, headroom
// checked. Null when it cannot be made.
const FftPlans::Plan* makeDefaultPlan(FftDirection direction, std::int32_t n) {
  std::atomic<FftPlans::Plan*>& slot = gDefaultPlans[indexOf(direction, planner::log2Of(n))];
  if (const FftPlans::Plan* made = slot.load(std::memory_order_relaxed)) return made;
  auto* plan = new (std::nothrow) FftPlans::Plan;
  if (!plan) return nullptr;
  // The library's estimate alone: the planner would otherwise follow any
  // wisdom it holds.
  planner::forgetWisdom();
  *plan = planner::make(direction, n, planner::Kind::Estimate);
  if (!plan->plan) {
    delete plan;
    return nullptr;
  }
  slot.store(plan, std::memory_order_release);
  return plan;
}

bool makeDefaultPlans(std::int32_t n) {
  if (defaultPlan(FftDirection::Forward, n) && defaultPlan(FftDirection::Inverse, n)) return true;
  if (planner::log2Of(n) < 0) return false;
  std::lock_guard<std::mutex> lock(planner::mutex());
  const FftTransform both[] = {{FftDirection::Forward, n}, {FftDirection::Inverse, n}};
  // Before the library is called at all (its first call allocates too).
  if (!planner::headroom(planner::planningHeadroom(both))) return false;
  for (const FftTransform& t : both) {
    if (!makeDefaultPlan(t.direction, n)) return false;
  }
  return true;
}

// Makes the plans of every transform from the wisdom the library holds
// into `plans`; lock held, headroom checked. False, keeping none, when the
// wisdom lacks one (or memory for the planning arrays is short).
bool makeFromWisdom(std::array<FftPlans::Plan, 2 * kSizes>& plans, std::span<const FftTransform> transforms) {
  for (const FftTransform& t : transforms) {
    FftPlans::Plan& slot = plans[indexOf(t.direction, planner::log2Of(t.n))];
    if (slot.plan) continue;
    slot = planner::make(t.direction, t.n, planner::Kind::FromWisdom);
    if (!slot.plan) {
      for (FftPlans::Plan& p : plans) planner::destroy(p);
      return false;
    }
  }
  return true;
}

}  // namespace

FftPlans::~FftPlans() { clear(); }

void FftPlans::clear() {
  // Estimated plans are the process's own, kept for its life.
  if (!measured_) {
    plans_.fill(Plan{});
    return;
  }
  measured_ = false;
  std::lock_guard<std::mutex> lock(planner::mutex());
  for (Plan& p : plans_) planner::destroy(p);
}

bool FftPlans::make(std::span<const FftTransform> transforms, const FftPlanSource& source) {
  clear();
  for (const FftTransform& t : transforms) {
    if (planner::log2Of(t.n) < 0) return false;
  }
  try {
    const bool measuring = source.planning == FftPlanning::Measured;
    std::string folder;
    std::string wisdom;
    if (measuring) {
      folder = source.wisdomFolder.empty() ? userWisdomFolder() : source.wisdomFolder;
      if (folder.empty() || readWisdomFile(folder, wisdom) != WisdomState::Valid) wisdom.clear();
    }
    {
      std::lock_guard<std::mutex> lock(planner::mutex());
      // Before the library is called at all: its first call makes its
      // planner, which allocates as well.
      if (!planner::headroom(planner::planningHeadroom(transforms) + 4 * wisdom.size())) return false;
      if (!wisdom.empty()) {
        planner::forgetWisdom();
        measured_ = planner::importWisdom(wisdom) && makeFromWisdom(plans_, transforms);
      }
      if (!measured_) {
        for (const FftTransform& t : transforms) {
          const Plan* plan = makeDefaultPlan(t.direction, t.n);
          if (!plan) {
            plans_.fill(Plan{});
            return false;
          }
          plans_[indexOf(t.direction, planner::log2Of(t.n))] = *plan;
        }
      }
    }
    if (measuring && !measured_ && !folder.empty() && source.makeMissing) startWisdomMaker(folder, transforms);
    return true;
  } catch (const std::bad_alloc&) {
    // The folder's name or the file's text: nothing of the library's.
    clear();
    return false;
  }
}

bool FftPlans::has(FftDirection direction, std::int32_t n) const { return find(direction, n) != nullptr; }

const FftPlans::Plan* FftPlans::find(FftDirection direction, std::int32_t n) const {
  const int l = planner::log2Of(n);
  if (l < 0) return nullptr;
  const Plan& p = plans_[indexOf(direction, l)];
  return p.plan ? &p : nullptr;
}

std::int32_t FftPlans::largest() const {
  for (int l = kSizes - 1; l >= 1; --l) {
    if (has(FftDirection::Forward, std::int32_t{1} << l) || has(FftDirection::Inverse, std::int32_t{1} << l)) {
      return std::int32_t{1} << l;
    }
  }
  return 0;
}

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

bool FftWorkspace::prepare(const FftPlans& plans) {
  const std::int32_t n = plans.largest();
  if (n == 0 || !reserve(n)) return false;
  plans_ = &plans;
  return true;
}

bool FftWorkspace::prepare(std::int32_t n) {
  if (!makeDefaultPlans(n) || !reserve(n)) return false;
  plans_ = nullptr;
  return true;
}

const FftPlans::Plan* FftWorkspace::plan(FftDirection direction, std::int32_t n) const {
  if (n > capacity_) return nullptr;
  return plans_ ? plans_->find(direction, n) : defaultPlan(direction, n);
}

bool FftWorkspace::ready(FftDirection direction, std::int32_t n) const { return plan(direction, n) != nullptr; }

bool FftWorkspace::forward(const double* input, double* output, std::int32_t n) {
  const FftPlans::Plan* p = plan(FftDirection::Forward, n);
  if (!p) return false;
  const double* in = input;
  if (fftw_alignment_of(const_cast<double*>(input)) != p->alignment) {
    std::memcpy(real_, input, sizeof(double) * static_cast<std::size_t>(n));
    in = real_;
  }
  auto* spec = reinterpret_cast<fftw_complex*>(complex_);
  // The plan preserves its input, so casting away const is safe.
  fftw_execute_dft_r2c(static_cast<fftw_plan>(p->plan), const_cast<double*>(in), spec);
  count(FftDirection::Forward, n);
  const double scale = 1.0 / static_cast<double>(n);
  const std::int32_t half = n / 2;
  for (std::int32_t k = 0; k < half; ++k) {
    output[2 * k] = spec[k][0] * scale;
    output[2 * k + 1] = spec[k][1] * scale;
  }
  return true;
}

double* FftWorkspace::inverseInput(std::int32_t n) { return ready(FftDirection::Inverse, n) ? complex_ : nullptr; }

bool FftWorkspace::inverseFromInput(double* output, std::int32_t n) {
  const FftPlans::Plan* p = plan(FftDirection::Inverse, n);
  if (!p) return false;
  auto* spec = reinterpret_cast<fftw_complex*>(complex_);
  const std::int32_t half = n / 2;
  spec[half][0] = 0.0;
  spec[half][1] = 0.0;
  // A real signal's DC term has no imaginary part; the c2r transform
  // ignores it, which is the real-part reading of a Hermitian spectrum.
  const auto plan = static_cast<fftw_plan>(p->plan);
  if (fftw_alignment_of(output) == p->alignment) {
    fftw_execute_dft_c2r(plan, spec, output);
  } else {
    fftw_execute_dft_c2r(plan, spec, real_);
    std::memcpy(output, real_, sizeof(double) * static_cast<std::size_t>(n));
  }
  count(FftDirection::Inverse, n);
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

std::uint64_t fftTransformCount(FftDirection direction, std::int32_t n) {
  const int l = planner::log2Of(n);
  if (l < 0) return 0;
  return gCounts[indexOf(direction, l)].load(std::memory_order_relaxed);
}

}  // namespace vellomar
