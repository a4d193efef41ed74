// SPDX-License-Identifier: GPL-3.0-or-later
// Render speed and memory: the default render (pink noise, Mel, 8192/4) of a
// 512 x 512 picture against the bare transforms it needs, on one thread and
// on every core, and the memory of a one-hour render against a 15-second
// one.
//
//   bench_render_bench [seconds [repeats]]   (default 120 s, 5 repeats)

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

#include "engine/render.h"
#include "engine/settings.h"
#include "fft/buffer.h"
#include "fft/fft.h"

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
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, std::align_val_t) noexcept { std::free(p); }
void operator delete(void* p, std::size_t, std::align_val_t) noexcept { std::free(p); }

namespace {

using Clock = std::chrono::steady_clock;
using namespace vellomar;

double secondsSince(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

long peakRssKb() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

struct RenderRun {
  ResultCode result;
  double seconds;
  long allocations;
};

RenderRun render(const PictureData& picture, float seconds, std::int32_t threads, const std::string& path) {
  RenderJob job;
  job.picture = picture;
  job.threads = threads;
  job.sampleCount = noiseSampleCount(job.settings.sampleRate, seconds);
  job.output = std::fopen(path.c_str(), "wb");
  if (!job.output) return {-1, 0.0, 0};
  long blocks = 0;
  job.progress = [&blocks](int) { ++blocks; };
  const long before = gAllocations.load();
  const auto start = Clock::now();
  const ResultCode result = renderSound(job);
  return {result, secondsSince(start), gAllocations.load() - before};
}

// The transforms a render of `seconds` needs, on one thread: the counts of
// the 120-second render, scaled.
double bareTransforms(std::int32_t n, float seconds) {
  const double scale = seconds / 120.0;
  const long inverseN = std::lround(2585 * scale);
  const long forward2N = std::lround(3232 * scale);
  const long inverse2N = std::lround(5813 * scale);
  FftWorkspace workspace;
  workspace.prepare(n);
  workspace.prepare(2 * n);
  FftBuffer in(2 * static_cast<std::size_t>(n)), out(2 * static_cast<std::size_t>(n));
  for (std::size_t i = 0; i < in.size(); ++i) in[i] = std::sin(static_cast<double>(i) * 0.37);
  const auto start = Clock::now();
  for (long i = 0; i < inverseN; ++i) workspace.inverse(in.data(), out.data(), n);
  for (long i = 0; i < forward2N; ++i) workspace.forward(in.data(), out.data(), 2 * n);
  for (long i = 0; i < inverse2N; ++i) workspace.inverse(in.data(), out.data(), 2 * n);
  return secondsSince(start);
}

struct Spread {
  double low = 0.0, middle = 0.0, high = 0.0;
};

Spread spreadOf(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return {values.front(), values[values.size() / 2], values.back()};
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

  const std::string path =
      (std::filesystem::temp_directory_path() / ("vellomar-bench-" + std::to_string(getpid()) + ".wav")).string();
  render(picture, 1.0f, 1, path);  // warm-up: plans, caches, pages

  // Each repeat times the bare transforms and both renders back to back, so
  // that a busy moment of the machine weighs on all three alike.
  std::vector<double> fftTimes, oneTimes, allTimes, oneRatios, allRatios;
  long oneAllocations = 0, allAllocations = 0;
  for (int r = 0; r < repeats; ++r) {
    const double fft = bareTransforms(n, seconds);
    const RenderRun one = render(picture, seconds, 1, path);
    const RenderRun all = render(picture, seconds, 0, path);
    if (one.result != kResultOk || all.result != kResultOk) {
      std::fprintf(stderr, "render failed with result %d / %d\n", one.result, all.result);
      return 1;
    }
    fftTimes.push_back(fft);
    oneTimes.push_back(one.seconds);
    allTimes.push_back(all.seconds);
    oneRatios.push_back(one.seconds / fft);
    allRatios.push_back(all.seconds / fft);
    oneAllocations = one.allocations;
    allAllocations = all.allocations;
  }
  std::filesystem::remove(path);

  const Spread fft = spreadOf(fftTimes), one = spreadOf(oneTimes), all = spreadOf(allTimes);
  const Spread oneRatio = spreadOf(oneRatios), allRatio = spreadOf(allRatios);
  std::printf("render of %.0f s (pink noise, Mel, N %d, S 4, 512x512), %d repeats, median [low .. high]\n", seconds,
              n, repeats);
  std::printf("bare transforms, one thread:  %.3f s [%.3f .. %.3f]\n", fft.middle, fft.low, fft.high);
  std::printf("render, 1 thread:             %.3f s [%.3f .. %.3f], %.0fx real time\n", one.middle, one.low,
              one.high, seconds / one.middle);
  std::printf("render, %d threads (default):  %.3f s [%.3f .. %.3f], %.0fx real time\n", cores, all.middle,
              all.low, all.high, seconds / all.middle);
  std::printf("render / transforms, 1 thread: %.2f [%.2f .. %.2f] (goal: at most 1.6)\n", oneRatio.middle,
              oneRatio.low, oneRatio.high);
  std::printf("render / transforms, default:  %.2f [%.2f .. %.2f] (goal: at most 1.2, aim 1.0)\n", allRatio.middle,
              allRatio.low, allRatio.high);
  std::printf("allocations per render: %ld (1 thread), %ld (default)\n", oneAllocations, allAllocations);

  // Memory against duration: the peak of a 15-second render, then of a
  // one-hour render; the output goes nowhere.
  for (std::int32_t threads : {1, 0}) {
    const RenderRun shortRun = render(picture, 15.0f, threads, "/dev/null");
    const long shortPeak = peakRssKb();
    const RenderRun longRun = render(picture, 3600.0f, threads, "/dev/null");
    const long longPeak = peakRssKb();
    std::printf(
        "%s: 15 s render peak RSS %ld kB, %ld allocations; 1 h render (%.1f s) peak RSS %ld kB (+%ld kB), "
        "%ld allocations\n",
        threads == 1 ? "1 thread" : "default", shortPeak, shortRun.allocations, longRun.seconds, longPeak,
        longPeak - shortPeak, longRun.allocations);
    if (shortRun.result != kResultOk || longRun.result != kResultOk) return 1;
  }
  return 0;
}
