// Render speed and memory: the default render (pink noise, Mel, 8192/4) of a
// 512 x 512 picture against the bare transforms it needs, and the memory of
// a one-hour render against a 15-second one.
//
//   bench_render_bench [seconds]   (default 120)

#include <sys/resource.h>
#include <unistd.h>

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
#include "files/wav.h"

namespace {

std::atomic<long> gAllocations{0};

}  // namespace

void* operator new(std::size_t size) {
  gAllocations.fetch_add(1, std::memory_order_relaxed);
  if (void* p = std::malloc(size ? size : 1)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

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

RenderRun render(float seconds, const std::string& path) {
  renderSettings.durationSeconds = seconds;
  RenderJob job;
  job.sampleCount = noiseSampleCount(renderSettings.sampleRate, seconds);
  job.output =
      createOutputWave(path, WaveInfo{job.sampleCount, 1, 16, renderSettings.sampleRate, false}, true, nullptr);
  if (!job.output) return {-1, 0.0, 0};
  long blocks = 0;
  job.progress = [&blocks](int) { ++blocks; };
  const long before = gAllocations.load();
  const auto start = Clock::now();
  const ResultCode result = renderSound(job);
  return {result, secondsSince(start), gAllocations.load() - before};
}

}  // namespace

int main(int argc, char** argv) {
  const float seconds = argc > 1 ? std::strtof(argv[1], nullptr) : 120.0f;

  // A 512 x 512 picture with detail in both directions.
  std::vector<std::uint8_t> pixels(512 * 512);
  for (std::uint32_t y = 0; y < 512; ++y) {
    for (std::uint32_t x = 0; x < 512; ++x) {
      const double v = 127.5 + 127.5 * std::sin(x * 0.05) * std::cos(y * 0.031 + x * 0.002);
      pixels[y * 512 + x] = static_cast<std::uint8_t>(v);
    }
  }
  pictureData = PictureData{pixels.data(), 512, 512, 512};

  const std::int32_t n = renderSettings.blockLength;
  prepareFft(n);
  prepareFft(2 * n);

  const std::string path =
      (std::filesystem::temp_directory_path() / ("vellomar-bench-" + std::to_string(getpid()) + ".wav")).string();
  render(1.0f, path);  // warm-up: design workspace, source buffer, plans

  const RenderRun run = render(seconds, path);
  std::filesystem::remove(path);
  if (run.result != kResultOk) {
    std::fprintf(stderr, "render failed with result %d\n", run.result);
    return 1;
  }

  // The transforms such a render needs, on the same data sizes. The counts
  // scale with the duration from those of the 120-second render.
  const double scale = seconds / 120.0;
  const long inverseN = std::lround(2585 * scale);
  const long forward2N = std::lround(3232 * scale);
  const long inverse2N = std::lround(5813 * scale);
  FftBuffer in(2 * static_cast<std::size_t>(n)), out(2 * static_cast<std::size_t>(n));
  for (std::size_t i = 0; i < in.size(); ++i) in[i] = std::sin(static_cast<double>(i) * 0.37);
  const auto fftStart = Clock::now();
  for (long i = 0; i < inverseN; ++i) ifftReal(in.data(), out.data(), 0.0, n);
  for (long i = 0; i < forward2N; ++i) fftReal(in.data(), out.data(), 2 * n, 0);
  for (long i = 0; i < inverse2N; ++i) ifftReal(in.data(), out.data(), 0.0, 2 * n);
  const double fftSeconds = secondsSince(fftStart);

  std::printf("render of %.0f s (pink noise, Mel, N %d, S %d, 512x512): %.3f s, %.0fx real time\n", seconds, n,
              renderSettings.subBlocksPerBlock, run.seconds, seconds / run.seconds);
  std::printf("bare transforms (%ld inverse N, %ld forward 2N, %ld inverse 2N): %.3f s\n", inverseN, forward2N,
              inverse2N, fftSeconds);
  std::printf("render / transforms: %.2f (goal: at most 1.5)\n", run.seconds / fftSeconds);
  std::printf("allocations during the render: %ld\n", run.allocations);

  // Memory against duration: the peak of a 15-second render, then of a
  // one-hour render; the output goes nowhere.
  const RenderRun shortRun = render(15.0f, "/dev/null");
  const long shortPeak = peakRssKb();
  const RenderRun longRun = render(3600.0f, "/dev/null");
  const long longPeak = peakRssKb();
  std::printf(
      "15 s render: peak RSS %ld kB, %ld allocations; 1 h render (%.1f s): peak RSS %ld kB (+%ld kB), "
      "%ld allocations\n",
      shortPeak, shortRun.allocations, longRun.seconds, longPeak, longPeak - shortPeak, longRun.allocations);
  return shortRun.result == kResultOk && longRun.result == kResultOk ? 0 : 1;
}
