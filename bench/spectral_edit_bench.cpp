// SPDX-License-Identifier: GPL-3.0-or-later
// Speed of rendering a painted picture back into its recording: one minute
// of mono speech-like sound and of noise at -20 dBFS at 44100 Hz (or
// another rate), the default frame length for the rate (N 4096 at 44100 Hz)
// and the default picture (512 columns, a row per hop), on one thread:
// - the picture unchanged (nothing transformed: the cost of reading and
//   writing the samples),
// - the whole file masked (every pixel lowered by 6 dB: every frame
//   transformed), the figure to keep at or under 0.2 s per minute per core,
// - edits of 0.3 s, 3 s and 15 s, which should cost in proportion to the
//   frames they touch: each gives its CPU time beyond the unchanged
//   picture's as a share of the whole file's, and the share of the whole
//   file's transforms it makes (the 0.3 s edit's time is within the
//   timing's noise; its transforms are not), beside the share of the
//   samples its frames reach,
// - 0.3 s painted over digital silence (synthesised by Griffin-Lim).
// Each figure is the best of the repeats in elapsed time, and the best in
// CPU time of the process (one thread: the two should agree unless the
// machine is busy; then the CPU time is the figure to go by, and the shares
// are of CPU time). The analysis that renders compare against is timed
// apart.
//
//   bench_spectral_edit_bench [repeats] [masked|all] [rate]   (default 3 all 44100)
//
// With "masked", only the whole file masked is rendered, on speech: for a
// profiler.

#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "tests/engine/spectral_edit_fixture.h"

namespace {

using Clock = std::chrono::steady_clock;

std::vector<std::int16_t> speechLike(std::size_t count, double peak, double rate) {
  std::vector<std::int16_t> out(count);
  double phase = 0.0;
  for (std::size_t i = 0; i < count; ++i) {
    const double t = static_cast<double>(i) / rate;
    phase += 2.0 * M_PI * (150.0 + 30.0 * std::sin(2.0 * M_PI * 1.3 * t)) / rate;
    double v = 0.0;
    for (int k = 1; k * 180 < 5000; ++k) v += std::sin(k * phase + 0.7 * k) / k;
    out[i] = static_cast<std::int16_t>(std::lround(peak * (0.55 + 0.45 * std::sin(2.0 * M_PI * 3.0 * t)) * v / 2.0));
  }
  return out;
}

double seconds(Clock::time_point from) { return std::chrono::duration<double>(Clock::now() - from).count(); }

double cpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

struct Timing {
  double wall = 1e9;  // seconds, the best repeat
  double cpu = 1e9;   // seconds of CPU, the best repeat
  std::uint64_t transforms = 0;  // forward N-point transforms of one render
};

Timing timeRender(const vellomar::test::EditCase& e, int repeats) {
  Timing best;
  for (int i = 0; i < repeats; ++i) {
    const std::uint64_t transforms = vellomar::fftTransformCount(vellomar::FftDirection::Forward, e.settings.blockLength);
    const double cpu = cpuSeconds();
    const auto start = Clock::now();
    vellomar::ResultCode result = -1;
    e.render(1, &result);
    best.wall = std::min(best.wall, seconds(start));
    best.cpu = std::min(best.cpu, cpuSeconds() - cpu);
    best.transforms =
        vellomar::fftTransformCount(vellomar::FftDirection::Forward, e.settings.blockLength) - transforms;
    if (result != vellomar::kResultOk) std::printf("render failed: %d\n", result);
  }
  return best;
}

void print(const char* what, const Timing& t, const char* unit = "s") {
  std::printf("  %-32s %.3f %s (CPU %.3f s)\n", what, t.wall, unit, t.cpu);
}

// The share of the recording's samples the edit's frames reach.
double reachedShare(const vellomar::test::EditCase& e) {
  std::vector<double> scratch;
  std::vector<vellomar::SampleRange> ranges;
  if (vellomar::editedSampleRanges(e.job(scratch), ranges) != vellomar::kResultOk) return 0.0;
  std::uint64_t reached = 0;
  for (const vellomar::SampleRange& r : ranges) reached += r.end - r.first;
  return static_cast<double>(reached) / static_cast<double>(e.count);
}

int lowered(int b) { return b == 0 ? 0 : std::max(1, b - 16); }

}  // namespace

int main(int argc, char** argv) {
  using vellomar::test::EditCase;
  const int repeats = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
  const bool maskedOnly = argc > 2 && std::strcmp(argv[2], "masked") == 0;
  const std::uint32_t rate = argc > 3 ? static_cast<std::uint32_t>(std::max(8000, std::atoi(argv[3]))) : 44100;
  const std::size_t minute = std::size_t{rate} * 60;
  vellomar::RenderSettings grid;
  grid.sampleRate = rate;
  grid.blockLength = vellomar::editBlockLength(rate);
  const std::size_t hop = static_cast<std::size_t>(grid.blockLength / 4);
  const auto width = std::uint32_t{512}, height = static_cast<std::uint32_t>(minute / hop);
  const double rowSeconds = static_cast<double>(hop) / rate;
  for (const bool noise : {false, true}) {
    if (noise && maskedOnly) break;
    const std::vector<std::int16_t> sound =
        noise ? vellomar::test::noise(minute, 3277) : speechLike(minute, 12000, rate);
    const auto analysed = Clock::now();
    EditCase e(grid, sound, 1, width, height);
    const double analysis = seconds(analysed);
    std::printf("%s, one minute mono at %u Hz, N %d, %ux%u picture\n", noise ? "noise at -20 dBFS" : "speech-like",
                rate, grid.blockLength, width, height);
    e.paint(0, 0, width, height, lowered);
    const Timing whole = timeRender(e, repeats);
    print("whole file masked (-6 dB)", whole, "s per minute per core");
    if (maskedOnly) break;
    std::printf("  analysis (one thread)            %.3f s\n", analysis);
    e.edited = e.original;
    const Timing unchanged = timeRender(e, repeats);
    print("unchanged picture", unchanged);
    for (const double editSeconds : {0.3, 3.0, 15.0}) {
      e.edited = e.original;
      const auto rows = static_cast<std::uint32_t>(std::lround(editSeconds / rowSeconds));
      e.paint(100, height / 2 - rows / 2, 300, height / 2 - rows / 2 + rows, lowered);
      const Timing t = timeRender(e, repeats);
      const std::string label = std::to_string(editSeconds).substr(0, 4) + " s edit";
      print(label.c_str(), t);
      std::printf("  %-32s %.4f of the whole file's time beyond the unchanged picture's, %.4f of its transforms;\n", "",
                  std::max(0.0, t.cpu - unchanged.cpu) / std::max(1e-9, whole.cpu - unchanged.cpu),
                  static_cast<double>(t.transforms) / static_cast<double>(std::max<std::uint64_t>(1, whole.transforms)));
      std::printf("  %-32s its frames reach %.4f of the samples\n", "", reachedShare(e));
    }
  }
  if (maskedOnly) return 0;
  // 0.3 s painted over digital silence in the middle of the speech.
  std::vector<std::int16_t> sound = speechLike(minute, 12000, rate);
  std::fill(sound.begin() + minute / 2, sound.begin() + minute / 2 + rate, 0);
  EditCase e(grid, sound, 1, width, height);
  const auto rows = static_cast<std::uint32_t>(0.3 / rowSeconds);
  for (std::uint32_t y = 0; y < rows; ++y) {
    for (std::uint32_t x = 0; x < width; ++x) e.pixel(0, x, height / 2 + 4 + y) = e.originalPixel(0, x, 100 + y);
  }
  std::printf("speech-like, 0.3 s copied onto digital silence (synthesised, %d Griffin-Lim iterations)\n",
              vellomar::kEditSynthesisIterations);
  print("whole render", timeRender(e, repeats));
  return 0;
}
