// SPDX-License-Identifier: GPL-3.0-or-later
// Sine render speed and memory against the pink-noise render of the same
// picture, on one thread and on every core:
// - a 512 x 512 picture for 120 s (goal: no slower than pink),
// - an 8000-column picture for 15 s (goal: at most 3 times pink),
// - the peak memory of a 15-second and a one-hour sine render,
// - and, for the choice of method, a plain oscillator bank (a phasor per
//   column, rotated sample by sample, vectorised over the columns) summing
//   the same 512 tones, timed over a stretch and scaled to 120 s.
//
//   bench_sine_bench [repeats]   (default 3)

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <complex>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "engine/render.h"
#include "engine/settings.h"
#include "engine/sine.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace vellomar;

double secondsSince(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

// Processor seconds of this process so far, every thread's: less disturbed
// than the wall clock by other work on a busy machine.
double cpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         1e-6 * static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec);
}

long peakRssKb() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

// A picture with detail in both directions, as the render bench's.
std::vector<std::uint8_t> detailedPicture(std::uint32_t width, std::uint32_t height) {
  std::vector<std::uint8_t> pixels(static_cast<std::size_t>(width) * height);
  for (std::uint32_t y = 0; y < height; ++y) {
    for (std::uint32_t x = 0; x < width; ++x) {
      const double v = 127.5 + 127.5 * std::sin(x * 0.05) * std::cos(y * 0.031 + x * 0.002);
      pixels[static_cast<std::size_t>(y) * width + x] = static_cast<std::uint8_t>(v);
    }
  }
  return pixels;
}

struct Timing {
  double wall = -1.0;
  double cpu = 0.0;
};

Timing render(const PictureData& picture, InputSource source, float seconds, std::int32_t threads,
              const std::string& path) {
  RenderJob job;
  job.settings.inputSource = source;
  job.picture = picture;
  job.threads = threads;
  job.sampleCount = noiseSampleCount(job.settings.sampleRate, seconds);
  job.output = std::fopen(path.c_str(), "wb");
  if (!job.output) return {};
  const double cpuStart = cpuSeconds();
  const auto start = Clock::now();
  const ResultCode result = renderSound(job);
  const double elapsed = secondsSince(start);
  if (result != kResultOk) return {};
  return {elapsed, cpuSeconds() - cpuStart};
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

struct Pair {
  double sine = 0.0;
  double pink = 0.0;
  double sineCpu = 0.0;
  double pinkCpu = 0.0;
};

// Sine and pink back to back, `repeats` times: the medians.
Pair compare(const PictureData& picture, float seconds, std::int32_t threads, int repeats, const std::string& path) {
  std::vector<double> sine, pink, sineCpu, pinkCpu;
  for (int r = 0; r < repeats; ++r) {
    const Timing s = render(picture, InputSource::SineTones, seconds, threads, path);
    const Timing p = render(picture, InputSource::PinkNoise, seconds, threads, path);
    sine.push_back(s.wall);
    pink.push_back(p.wall);
    sineCpu.push_back(s.cpu);
    pinkCpu.push_back(p.cpu);
  }
  return {median(sine), median(pink), median(sineCpu), median(pinkCpu)};
}

// The plain alternative: a phasor per column rotated every sample, the
// amplitudes ramped linearly over each hop, columns in arrays so that the
// compiler vectorises across them. Returns seconds for `samples` samples.
double oscillatorBank(std::uint32_t columns, std::int64_t samples, std::int32_t hop) {
  std::vector<double> re(columns), im(columns), stepRe(columns), stepIm(columns), amp(columns), slope(columns);
  for (std::uint32_t c = 0; c < columns; ++c) {
    const double w = 2.0 * 3.141592653589793 * 16.0 * std::pow(22050.0 / 16.0, c / (columns - 1.0)) / 44100.0;
    re[c] = 1.0;
    im[c] = 0.0;
    stepRe[c] = std::cos(w);
    stepIm[c] = std::sin(w);
    amp[c] = 0.5;
    slope[c] = 1e-7;
  }
  std::vector<double> out(static_cast<std::size_t>(hop));
  double sink = 0.0;
  const auto start = Clock::now();
  for (std::int64_t at = 0; at < samples; at += hop) {
    for (std::int32_t k = 0; k < hop; ++k) {
      double sum = 0.0;
      for (std::uint32_t c = 0; c < columns; ++c) {
        const double r = re[c] * stepRe[c] - im[c] * stepIm[c];
        const double i = re[c] * stepIm[c] + im[c] * stepRe[c];
        re[c] = r;
        im[c] = i;
        sum += (amp[c] + slope[c] * k) * i;
      }
      out[static_cast<std::size_t>(k)] = sum;
    }
    sink += out[0];
  }
  const double elapsed = secondsSince(start);
  if (sink == 12345.678) std::printf(" ");
  return elapsed;
}

}  // namespace

int main(int argc, char** argv) {
  const int repeats = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
  const std::int32_t cores = availableCores();
  const std::string path =
      (std::filesystem::temp_directory_path() / ("vellomar-sine-bench-" + std::to_string(getpid()) + ".wav")).string();

  const std::vector<std::uint8_t> small = detailedPicture(512, 512);
  const std::vector<std::uint8_t> wide = detailedPicture(8000, 512);
  const PictureData smallPicture{small.data(), 512, 512, 512};
  const PictureData widePicture{wide.data(), 8000, 8000, 512};
  render(smallPicture, InputSource::SineTones, 1.0f, 1, path);  // warm-up: plans, pages
  render(smallPicture, InputSource::PinkNoise, 1.0f, 1, path);

  std::printf("sine against pink noise (Mel, N 8192, S 4), median of %d\n", repeats);
  for (std::int32_t threads : {1, cores}) {
    const Pair a = compare(smallPicture, 120.0f, threads, repeats, path);
    std::printf(
        "512 x 512, 120 s, %d thread(s): sine %.3f s, pink %.3f s, sine / pink %.2f (goal: at most 1); "
        "processor time %.3f s / %.3f s = %.2f\n",
        threads, a.sine, a.pink, a.sine / a.pink, a.sineCpu, a.pinkCpu, a.sineCpu / a.pinkCpu);
    const Pair b = compare(widePicture, 15.0f, threads, repeats, path);
    std::printf(
        "8000 columns, 15 s, %d thread(s): sine %.3f s, pink %.3f s, sine / pink %.2f (goal: at most 3); "
        "processor time %.3f s / %.3f s = %.2f\n",
        threads, b.sine, b.pink, b.sine / b.pink, b.sineCpu, b.pinkCpu, b.sineCpu / b.pinkCpu);
  }

  // The method: the oscillator bank for 512 tones over 5 s, scaled.
  const double bankStart = cpuSeconds();
  const double bank = oscillatorBank(512, 5 * 44100, 2048) * 24.0;
  const double bankCpu = (cpuSeconds() - bankStart) * 24.0;
  std::printf("plain oscillator bank, 512 tones, one thread, scaled to 120 s: %.2f s (processor time %.2f s)\n", bank,
              bankCpu);

  // Memory against duration: a 15-second sine render, then a one-hour one.
  const double shortRun = render(smallPicture, InputSource::SineTones, 15.0f, 0, "/dev/null").wall;
  const long shortPeak = peakRssKb();
  const double longRun = render(smallPicture, InputSource::SineTones, 3600.0f, 0, "/dev/null").wall;
  const long longPeak = peakRssKb();
  std::printf("sine 512 x 512: 15 s render (%.2f s) peak RSS %ld kB; 1 h render (%.1f s) peak RSS %ld kB (+%ld kB)\n",
              shortRun, shortPeak, longRun, longPeak, longPeak - shortPeak);
  std::filesystem::remove(path);
  return shortRun < 0.0 || longRun < 0.0 ? 1 : 0;
}
