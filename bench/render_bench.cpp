// SPDX-License-Identifier: GPL-3.0-or-later
// Render speed and memory: the default render (pink noise, Mel, 8192/4) of a
// 512 x 512 picture against the bare transforms its algorithm needs (2585
// inverse transforms of N points, 3232 forward and 5813 inverse of 2N for
// 120 s, scaled to the duration), run on one thread with measured plans made
// in this run; the render on one thread and on every core, with the same
// measured plans and with estimated ones; the transforms a render does; and
// the memory of a one-hour render against a 15-second one.
//
//   bench_render_bench [seconds [repeats]]   (default 120 s, 5 repeats)
//
// Times are wall-clock and CPU (user + system) of the whole process; on a
// busy machine the CPU figures are the steadier.

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <new>
#include <string>
#include <vector>

#include "engine/context.h"
#include "engine/render.h"
#include "engine/settings.h"
#include "fft/buffer.h"
#include "fft/fft.h"
#include "fft/wisdom.h"

namespace {

std::atomic<long> gAllocations{0};

void* counted(std::size_t size) {
  gAllocations.fetch_add(1, std::memory_order_relaxed);
  if (void* p = std::malloc(size ? size : 1)) return p;
  throw std::bad_alloc();
}

void* countedAligned(std::size_t size, std::align_val_t alignment) {
  gAllocations.fetch_add(1, std::memory_order_relaxed);
  const auto align = static_cast<std::size_t>(alignment);
  if (void* p = std::aligned_alloc(align, (size + align - 1) / align * align)) return p;
  throw std::bad_alloc();
}

}  // namespace

void* operator new(std::size_t size) { return counted(size); }
void* operator new(std::size_t size, std::align_val_t alignment) { return countedAligned(size, alignment); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  try {
    return counted(size);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}
void* operator new(std::size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept {
  try {
    return countedAligned(size, alignment);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, std::align_val_t) noexcept { std::free(p); }
void operator delete(void* p, std::size_t, std::align_val_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete(void* p, std::align_val_t, const std::nothrow_t&) noexcept { std::free(p); }

namespace {

using Clock = std::chrono::steady_clock;
using namespace vellomar;

double secondsSince(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

double cpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + 1e-6 * static_cast<double>(t.tv_usec); };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

long peakRssKb() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

struct Timing {
  double wall = 0.0;
  double cpu = 0.0;
};

template <class F>
Timing timed(F&& work) {
  const double cpu = cpuSeconds();
  const auto start = Clock::now();
  work();
  return {secondsSince(start), cpuSeconds() - cpu};
}

struct RenderRun {
  ResultCode result = -1;
  Timing time;
  long allocations = 0;
};

RenderRun render(const PictureData& picture, float seconds, std::int32_t threads, const std::string& path,
                 const FftPlanSource& plans) {
  RenderJob job;
  job.picture = picture;
  job.threads = threads;
  job.plans = plans;
  job.sampleCount = noiseSampleCount(job.settings.sampleRate, seconds);
  job.output = std::fopen(path.c_str(), "wb");
  if (!job.output) return {};
  long blocks = 0;
  job.progress = [&blocks](int) { ++blocks; };
  RenderRun run;
  const long before = gAllocations.load();
  run.time = timed([&] { run.result = renderSound(job); });
  run.allocations = gAllocations.load() - before;
  return run;
}

// The transforms a render of `seconds` needs by the textbook algorithm (two
// inverse transforms per hop), on one thread: the counts of the 120-second
// render, scaled.
Timing bareTransforms(const FftPlans& plans, std::int32_t n, float seconds) {
  const double scale = seconds / 120.0;
  const long inverseN = std::lround(2585 * scale);
  const long forward2N = std::lround(3232 * scale);
  const long inverse2N = std::lround(5813 * scale);
  FftWorkspace workspace;
  workspace.prepare(plans);
  FftBuffer in(2 * static_cast<std::size_t>(n)), out(2 * static_cast<std::size_t>(n));
  for (std::size_t i = 0; i < in.size(); ++i) in[i] = std::sin(static_cast<double>(i) * 0.37);
  return timed([&] {
    for (long i = 0; i < inverseN; ++i) workspace.inverse(in.data(), out.data(), n);
    for (long i = 0; i < forward2N; ++i) workspace.forward(in.data(), out.data(), 2 * n);
    for (long i = 0; i < inverse2N; ++i) workspace.inverse(in.data(), out.data(), 2 * n);
  });
}

struct Spread {
  double low = 0.0, middle = 0.0, high = 0.0;
};

Spread spreadOf(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return {values.front(), values[values.size() / 2], values.back()};
}

void printSpread(const char* label, const std::vector<double>& values, const char* unit) {
  const Spread s = spreadOf(values);
  std::printf("%-44s %7.3f%s [%.3f .. %.3f]\n", label, s.middle, unit, s.low, s.high);
}

// Transforms one render does, by kind.
void printTransformCounts(const PictureData& picture, float seconds, std::int32_t n, const FftPlanSource& plans) {
  auto counts = [n] {
    return std::vector<std::uint64_t>{fftTransformCount(FftDirection::Inverse, n),
                                      fftTransformCount(FftDirection::Forward, 2 * n),
                                      fftTransformCount(FftDirection::Inverse, 2 * n)};
  };
  for (std::int32_t threads : {1, 0}) {
    const auto before = counts();
    render(picture, seconds, threads, "/dev/null", plans);
    const auto after = counts();
    std::printf("transforms per render (%s): inverse N %llu, forward 2N %llu, inverse 2N %llu\n",
                threads == 1 ? "1 thread" : "default threads",
                static_cast<unsigned long long>(after[0] - before[0]),
                static_cast<unsigned long long>(after[1] - before[1]),
                static_cast<unsigned long long>(after[2] - before[2]));
  }
}

// What a render's start costs for its plans: from wisdom, estimated, and
// with the maker started (a fork) when the wisdom lacks them.
void printPlanStart(const FftPlanSource& measured, const std::filesystem::path& scratch, std::int32_t n) {
  const auto transforms = renderTransforms(n);
  auto median = [&transforms](const FftPlanSource& source, int rounds) {
    std::vector<double> times;
    for (int i = 0; i < rounds; ++i) {
      FftPlans plans;
      times.push_back(timed([&] { plans.make(transforms, source); }).wall);
    }
    return 1e3 * spreadOf(times).middle;
  };
  std::printf("plans at a render's start: %.2f ms from wisdom, %.2f ms estimated\n", median(measured, 21),
              median(FftPlanSource{}, 21));
  FftPlanSource missing = measured;
  missing.wisdomFolder = (scratch / "empty-cache").string();
  missing.makeMissing = true;
  FftPlans plans;
  const Timing start = timed([&] { plans.make(transforms, missing); });
  std::printf("plans at a render's start without wisdom, the maker process started: %.2f ms\n", 1e3 * start.wall);
}

}  // namespace

int main(int argc, char** argv) {
  const float seconds = argc > 1 ? std::strtof(argv[1], nullptr) : 120.0f;
  const int repeats = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;

  // A 512 x 512 picture with detail in both directions.
  std::vector<std::uint8_t> pixels(512 * 512);
  for (std::uint32_t y = 0; y < 512; ++y) {
    for (std::uint32_t x = 0; x < 512; ++x) {
      const double v = 127.5 + 127.5 * std::sin(x * 0.05) * std::cos(y * 0.031 + x * 0.002);
      pixels[y * 512 + x] = static_cast<std::uint8_t>(v);
    }
  }
  const PictureData picture{pixels.data(), 512, 512, 512};
  const std::int32_t n = RenderSettings{}.blockLength;
  const std::int32_t cores = availableCores();
  const auto scratch = std::filesystem::temp_directory_path() / ("vellomar-bench-" + std::to_string(getpid()));
  std::filesystem::create_directories(scratch);
  const std::string path = (scratch / "out.wav").string();

  // Measured plans, made here: the floor's and the renders'.
  FftPlanSource measured;
  measured.planning = FftPlanning::Measured;
  measured.wisdomFolder = (scratch / "cache").string();
  measured.makeMissing = false;
  std::string error;
  const auto transforms = renderTransforms(n);
  const Timing measuring = timed([&] { makeWisdom(measured.wisdomFolder, transforms, error); });
  FftPlans plans;
  if (!plans.make(transforms, measured) || !plans.measured()) {
    std::fprintf(stderr, "no measured plans: %s\n", error.c_str());
    return 1;
  }
  std::printf("measuring the plans of N %d: %.1f s\n", n, measuring.wall);
  const FftPlanSource estimated;
  render(picture, 1.0f, 1, path, measured);  // warm-up: caches, pages

  // Each repeat times the bare transforms and the renders back to back, so
  // that a busy moment of the machine weighs on all alike.
  std::vector<double> floorWall, floorCpu, oneWall, oneCpu, allWall, allCpu, oneRatio, oneCpuRatio, allRatio,
      estimatedCpu;
  long oneAllocations = 0, allAllocations = 0;
  for (int r = 0; r < repeats; ++r) {
    const Timing floor = bareTransforms(plans, n, seconds);
    const RenderRun one = render(picture, seconds, 1, path, measured);
    const RenderRun all = render(picture, seconds, 0, path, measured);
    const RenderRun oneEstimated = render(picture, seconds, 1, path, estimated);
    if (one.result != kResultOk || all.result != kResultOk || oneEstimated.result != kResultOk) {
      std::fprintf(stderr, "render failed with result %d / %d / %d\n", one.result, all.result, oneEstimated.result);
      return 1;
    }
    floorWall.push_back(floor.wall);
    floorCpu.push_back(floor.cpu);
    oneWall.push_back(one.time.wall);
    oneCpu.push_back(one.time.cpu);
    allWall.push_back(all.time.wall);
    allCpu.push_back(all.time.cpu);
    estimatedCpu.push_back(oneEstimated.time.cpu);
    oneRatio.push_back(one.time.wall / floor.wall);
    oneCpuRatio.push_back(one.time.cpu / floor.cpu);
    allRatio.push_back(all.time.wall / floor.wall);
    oneAllocations = one.allocations;
    allAllocations = all.allocations;
  }

  std::printf("render of %.0f s (pink noise, Mel, N %d, S 4, 512x512), %d repeats, median [low .. high]\n", seconds,
              n, repeats);
  printSpread("bare transforms, one thread, wall:", floorWall, " s");
  printSpread("bare transforms, one thread, CPU:", floorCpu, " s");
  printSpread("render, 1 thread, wall:", oneWall, " s");
  printSpread("render, 1 thread, CPU:", oneCpu, " s");
  printSpread("render, 1 thread, estimated plans, CPU:", estimatedCpu, " s");
  char label[64];
  std::snprintf(label, sizeof label, "render, %d threads (default), wall:", cores);
  printSpread(label, allWall, " s");
  std::snprintf(label, sizeof label, "render, %d threads (default), CPU:", cores);
  printSpread(label, allCpu, " s");
  printSpread("render / transforms, 1 thread, wall:", oneRatio, "x");
  printSpread("render / transforms, 1 thread, CPU:", oneCpuRatio, "x");
  printSpread("render / transforms, default threads, wall:", allRatio, "x");
  std::printf("goals: 1 thread at most 1.7x, default threads at most 0.95x\n");
  std::printf("allocations per render: %ld (1 thread), %ld (default)\n", oneAllocations, allAllocations);
  printTransformCounts(picture, seconds, n, measured);
  printPlanStart(measured, scratch, n);

  // Memory against duration: the peak of a 15-second render, then of a
  // one-hour render; the output goes nowhere.
  for (std::int32_t threads : {1, 0}) {
    const RenderRun shortRun = render(picture, 15.0f, threads, "/dev/null", measured);
    const long shortPeak = peakRssKb();
    const RenderRun longRun = render(picture, 3600.0f, threads, "/dev/null", measured);
    const long longPeak = peakRssKb();
    std::printf(
        "%s: 15 s render peak RSS %ld kB, %ld allocations; 1 h render (%.1f s) peak RSS %ld kB (+%ld kB), "
        "%ld allocations\n",
        threads == 1 ? "1 thread" : "default", shortPeak, shortRun.allocations, longRun.time.wall, longPeak,
        longPeak - shortPeak, longRun.allocations);
    if (shortRun.result != kResultOk || longRun.result != kResultOk) return 1;
  }
  std::filesystem::remove_all(scratch);
  return 0;
}
