// SPDX-License-Identifier: GPL-3.0-or-later
// Speed of rendering a painted picture back into its recording: one minute
// of mono speech-like sound and of noise at -20 dBFS, N 4096, the default
// picture (512 columns, a row per hop), on one thread:
// - the whole file masked (every pixel lowered by 6 dB: every frame
//   transformed),
// - a small edit (0.3 s of the picture lowered), which should cost in
//   proportion to the frames it touches,
// - 0.3 s painted over digital silence (synthesised by Griffin-Lim).
// The analysis that renders compare against is timed apart.
//
//   bench_spectral_edit_bench [repeats]   (default 3)

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "tests/engine/spectral_edit_fixture.h"

namespace {

using Clock = std::chrono::steady_clock;

std::vector<std::int16_t> speechLike(std::size_t count, double peak) {
  std::vector<std::int16_t> out(count);
  double phase = 0.0;
  for (std::size_t i = 0; i < count; ++i) {
    const double t = static_cast<double>(i) / 44100.0;
    phase += 2.0 * M_PI * (150.0 + 30.0 * std::sin(2.0 * M_PI * 1.3 * t)) / 44100.0;
    double v = 0.0;
    for (int k = 1; k * 180 < 5000; ++k) v += std::sin(k * phase + 0.7 * k) / k;
    out[i] = static_cast<std::int16_t>(std::lround(peak * (0.55 + 0.45 * std::sin(2.0 * M_PI * 3.0 * t)) * v / 2.0));
  }
  return out;
}

double seconds(Clock::time_point from) { return std::chrono::duration<double>(Clock::now() - from).count(); }

// The best of `repeats` renders of `e`, in seconds.
double timeRender(const vellomar::test::EditCase& e, int repeats) {
  double best = 1e9;
  for (int i = 0; i < repeats; ++i) {
    const auto start = Clock::now();
    vellomar::ResultCode result = -1;
    e.render(1, &result);
    best = std::min(best, seconds(start));
    if (result != vellomar::kResultOk) std::printf("render failed: %d\n", result);
  }
  return best;
}

}  // namespace

int main(int argc, char** argv) {
  using vellomar::test::EditCase;
  const int repeats = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
  const std::size_t minute = 44100 * 60;
  vellomar::RenderSettings grid;
  grid.blockLength = 4096;
  const std::uint32_t width = 512, height = minute / 1024;
  for (const bool noise : {false, true}) {
    const std::vector<std::int16_t> sound = noise ? vellomar::test::noise(minute, 3277) : speechLike(minute, 12000);
    const auto analysed = Clock::now();
    EditCase e(grid, sound, 1, width, height);
    const double analysis = seconds(analysed);
    std::printf("%s, one minute mono, N 4096, %ux%u picture\n", noise ? "noise at -20 dBFS" : "speech-like", width, height);
    std::printf("  analysis (one thread)           %.3f s\n", analysis);
    std::printf("  unchanged picture               %.3f s\n", timeRender(e, repeats));
    e.paint(0, 0, width, height, [](int b) { return b == 0 ? 0 : std::max(1, b - 16); });
    std::printf("  whole file masked (-6 dB)       %.3f s per minute per core\n", timeRender(e, repeats));
    e.edited = e.original;
    const std::uint32_t rows = static_cast<std::uint32_t>(0.3 * 44100 / 1024);
    e.paint(100, height / 2, 300, height / 2 + rows, [](int b) { return b == 0 ? 0 : std::max(1, b - 16); });
    std::printf("  0.3 s edit                      %.3f s\n", timeRender(e, repeats));
  }
  // 0.3 s painted over digital silence in the middle of the speech.
  std::vector<std::int16_t> sound = speechLike(minute, 12000);
  std::fill(sound.begin() + minute / 2, sound.begin() + minute / 2 + 44100, 0);
  EditCase e(grid, sound, 1, width, height);
  const std::uint32_t rows = static_cast<std::uint32_t>(0.3 * 44100 / 1024);
  for (std::uint32_t y = 0; y < rows; ++y) {
    for (std::uint32_t x = 0; x < width; ++x) e.pixel(0, x, height / 2 + 4 + y) = e.originalPixel(0, x, 100 + y);
  }
  std::printf("speech-like, 0.3 s copied onto digital silence (synthesised, %d Griffin-Lim iterations)\n",
              vellomar::kEditSynthesisIterations);
  std::printf("  whole render                    %.3f s\n", timeRender(e, repeats));
  return 0;
}
