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
// - Results are the same bits for the same input in every workspace bound
//   to one plan set, on any thread: a render's threads share one set.
//
// Plans
// - An FftPlans is the set of plans one render (or render session) uses for
//   its whole life: made once when it starts, then shared read-only by
//   every thread, each of which transforms into its own buffers (the
//   library's new-array execution). Making and destroying plans goes
//   through one process-wide lock: the library's planner is not
//   re-entrant. Transforms never take it.
// - Estimated plans are the library's estimate, made with no wisdom at
//   hand: the same on every run of a machine and library, so renders made
//   with them are reproducible to the bit (the engine's tests use them).
//   Depending on nothing but the transform, they are made once per process
//   and shared by every estimated set.
// - Measured plans are timed on this machine: a render's CPU time falls by
//   about a fifth. Their output differs from estimated plans' by rounding
//   only (at most one step of a 16-bit sample; none at all in the renders
//   tried). Measuring takes seconds and holds the planner's lock
//   throughout (measured here, for the three transforms of one block
//   length: 0.6 s of CPU time for 2048 points, 1.2 s for 8192, 2.9 s for
//   32768, and on a busy machine ten times that in elapsed time), so no
//   render measures. A render imports the wisdom file (the recorded
//   choices) when it starts and makes its plans from it in 0.2 ms. When the
//   file lacks one of its transforms, the render runs on estimated plans
//   and starts the wisdom maker (4 ms): a separate process, forked twice so
//   that nothing waits for it or has to reap it, at idle priority, that
//   measures the missing transforms, writes the file anew and exits; renders
//   after it use them. Being another process it never holds this process's
//   planner lock, and at idle priority it takes only time no render wants
//   (a thread of this process would have held the lock for seconds, and
//   any render starting meanwhile would have waited). One maker runs at a
//   time (a lock file beside the wisdom). `vellomar-render --make-plans`
//   measures in the foreground instead.
// - The wisdom file lives in the user's cache folder ($XDG_CACHE_HOME, or
//   ~/.cache, then vellomar/), named after a key of the machine's CPU
//   (model and flags) and the library's version, and starts with those
//   and a checksum of the wisdom. A file that cannot be read, is damaged
//   (checksum, or the library refuses it) or is foreign (another CPU or
//   library version) is ignored, and the maker replaces it.
//
// Memory
// - The library aborts the process when one of its own allocations fails,
//   and its planner is where it allocates (the transforms themselves
//   allocate nothing). So before planning, the address space and memory
//   the planner may need are reserved and given back at once: when that
//   fails, making the plans fails (false) and the library is not called.
//   Users make every plan before starting threads, and report false as
//   want of memory.
//
// Workspaces
// - An FftWorkspace holds the scratch arrays of one thread of work. Bound to
//   a plan set, it transforms the sizes and directions of that set; after
//   prepare, its transforms neither allocate nor fail. A workspace is used
//   by one thread at a time; any number of workspaces may transform at
//   once.
// - prepare(n) instead binds a workspace to process-wide estimated plans of
//   size n (both directions), made on first request and kept for the
//   process's life: for tools and tests, and users that need no shared set.
//
// The free functions fftReal and ifftReal transform through a workspace of
// the calling thread that prepares itself on first use; they suit tests and
// tools, where a failed allocation writing nothing is acceptable.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace vellomar {

enum class FftDirection { Forward, Inverse };

// One transform a plan set holds: direction and size.
struct FftTransform {
  FftDirection direction = FftDirection::Forward;
  std::int32_t n = 0;
};

enum class FftPlanning {
  Estimated,  // the library's estimate: reproducible to the bit
  Measured,   // timed on this machine and kept as wisdom; estimated until made
};

// Where a plan set comes from.
struct FftPlanSource {
  FftPlanning planning = FftPlanning::Estimated;
  // Measured: the folder of the wisdom file; empty for the user's cache
  // folder (userWisdomFolder()).
  std::string wisdomFolder;
  // Measured: start the wisdom maker when the wisdom lacks a transform.
  bool makeMissing = true;
};

// The plans of one render or session. Not copyable. Measured plans are the
// set's own, destroyed with it under the planner's lock; estimated plans
// are process-wide ones, made once per transform and kept for the
// process's life (they depend on nothing but the transform).
class FftPlans {
 public:
  FftPlans() = default;
  ~FftPlans();
  FftPlans(const FftPlans&) = delete;
  FftPlans& operator=(const FftPlans&) = delete;

  // Makes plans for `transforms` from `source`, replacing any held. False,
  // holding none, when a size is not supported or memory is short (the
  // library then was not asked to allocate).
  bool make(std::span<const FftTransform> transforms, const FftPlanSource& source);
  void clear();

  bool has(FftDirection direction, std::int32_t n) const;
  // Whether the plans came from measured wisdom.
  bool measured() const { return measured_; }
  // The largest size held (0: none).
  std::int32_t largest() const;

  struct Plan {
    void* plan = nullptr;  // the library's plan
    int alignment = 0;     // alignment class of the arrays it was made on
  };
  const Plan* find(FftDirection direction, std::int32_t n) const;

 private:
  static constexpr int kSizes = 31;  // log2 of n: 0 .. 30
  std::array<Plan, 2 * kSizes> plans_{};
  bool measured_ = false;
};

class FftWorkspace {
 public:
  FftWorkspace() = default;
  ~FftWorkspace();
  FftWorkspace(const FftWorkspace&) = delete;
  FftWorkspace& operator=(const FftWorkspace&) = delete;

  // Binds to `plans` (which must outlive the workspace's transforms) and
  // sizes the scratch for their largest transform. False when memory is
  // short or the set is empty (the workspace then keeps what it had).
  bool prepare(const FftPlans& plans);
  // Readies transforms of size n in both directions on process-wide
  // estimated plans. False when n is not a supported size or memory for
  // the plans or the scratch is short.
  bool prepare(std::int32_t n);
  // Whether a transform of size n in `direction` is ready.
  bool ready(FftDirection direction, std::int32_t n) const;

  // Forward transform of n real samples into n/2 complex entries. False,
  // writing nothing, when it is not ready.
  bool forward(const double* input, double* output, std::int32_t n);
  // Inverse transform of n/2 complex entries into n real samples. False,
  // writing nothing, when it is not ready.
  bool inverse(const double* input, double* output, std::int32_t n);

  // The inverse transform's own input array, for a caller that computes the
  // n/2 entries straight into it (saving a copy): fill entries 0 .. n/2-1,
  // then call inverseFromInput. Null when the inverse of size n is not
  // ready.
  double* inverseInput(std::int32_t n);
  bool inverseFromInput(double* output, std::int32_t n);

 private:
  const FftPlans::Plan* plan(FftDirection direction, std::int32_t n) const;
  bool reserve(std::int32_t n);

  const FftPlans* plans_ = nullptr;  // null: the process-wide estimated plans
  double* real_ = nullptr;           // n doubles
  double* complex_ = nullptr;        // n/2 + 1 complex entries
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

// Transforms of size n in `direction` this process has done so far, on
// every thread: for tests and benchmarks that count the work of a render.
std::uint64_t fftTransformCount(FftDirection direction, std::int32_t n);

}  // namespace vellomar
