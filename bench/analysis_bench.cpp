// SPDX-License-Identifier: GPL-3.0-or-later
// Analysis speed and memory against the render: a 15-second and a
// 10-minute sound at default settings (pink noise, Mel, N 8192, S 4, a
// 512 x 512 picture) are rendered to files, then analysed back into the
// default picture (512 columns, a row per hop), on every core. Each run is
// a child process of its own, so that its peak memory is its own.
//
//   bench_analysis_bench [repeats]   (default 3)

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "engine/analysis.h"
#include "engine/render.h"
#include "engine/settings.h"
#include "files/messages.h"
#include "files/wav.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace vellomar;

struct Measure {
  double seconds = -1.0;
  double peakMb = 0.0;
};

// Runs `work` in a child process: how long it took (as the child timed it)
// and the child's peak resident memory. A negative time when it failed.
template <class Work>
Measure inChild(Work&& work) {
  int pipeFds[2];
  if (::pipe(pipeFds) != 0) return {};
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::close(pipeFds[0]);
    const auto start = Clock::now();
    const bool ok = work();
    double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    if (!ok) seconds = -1.0;
    const ssize_t written = ::write(pipeFds[1], &seconds, sizeof seconds);
    ::_exit(written == sizeof seconds ? 0 : 1);
  }
  ::close(pipeFds[1]);
  Measure m;
  double seconds = -1.0;
  if (::read(pipeFds[0], &seconds, sizeof seconds) == sizeof seconds) m.seconds = seconds;
  ::close(pipeFds[0]);
  int status = 0;
  rusage usage{};
  ::wait4(pid, &status, 0, &usage);
  m.peakMb = static_cast<double>(usage.ru_maxrss) / 1024.0;
  return m;
}

bool renderTo(const PictureData& picture, std::uint32_t count, const std::string& path) {
  RenderJob job;
  job.picture = picture;
  job.sampleCount = count;
  WaveInfo info{count, 1, 16, 44100, false};
  Refusal refusal;
  job.output = createOutputWave(path, info, refusal);
  return job.output && renderSound(job) == kResultOk;
}

bool analyse(const std::string& path) {
  WaveInfo info;
  Refusal refusal;
  std::FILE* input = openInputWave(path, info, 44100, refusal);
  if (!input) return false;
  AnalysisJob job;
  job.input = input;
  job.sampleCount = info.sampleCount;
  job.width = kDefaultAnalysisWidth;
  job.stride = job.width;
  job.height = defaultAnalysisRows(job.settings, info.sampleCount);
  std::vector<std::uint8_t> pixels(static_cast<std::size_t>(job.stride) * job.height);
  job.pixels = pixels.data();
  const bool ok = analyseSound(job) == kResultOk;
  std::fclose(input);
  return ok;
}

Measure median(std::vector<Measure> runs) {
  std::sort(runs.begin(), runs.end(), [](const Measure& a, const Measure& b) { return a.seconds < b.seconds; });
  return runs[runs.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  const int repeats = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
  std::vector<std::uint8_t> pixels(512 * 512);
  for (std::uint32_t y = 0; y < 512; ++y) {
    for (std::uint32_t x = 0; x < 512; ++x) {
      pixels[y * 512 + x] = static_cast<std::uint8_t>(127.5 + 127.5 * std::sin(x * 0.05) * std::cos(y * 0.031 + x * 0.002));
    }
  }
  const PictureData picture{pixels.data(), 512, 512, 512};
  const std::string folder = std::filesystem::temp_directory_path().string();
  const Measure idle = inChild([] { return true; });

  std::printf("analysis against render at default settings (pink noise, Mel, N 8192, S 4), %d cores, median of %d\n",
              availableCores(), repeats);
  std::printf("(a process doing nothing peaks at %.1f MB)\n", idle.peakMb);
  std::printf("%-8s %10s %10s %12s %12s %10s %9s\n", "sound", "render s", "render MB", "analysis s", "analysis MB",
              "rows", "a / r");
  for (const float seconds : {15.0f, 600.0f}) {
    const std::uint32_t count = noiseSampleCount(44100, seconds);
    const std::string path = folder + "/vellomar-analysis-bench-" + std::to_string(getpid()) + ".wav";
    std::vector<Measure> renders, analyses;
    for (int r = 0; r < repeats; ++r) {
      renders.push_back(inChild([&] { return renderTo(picture, count, path); }));
      analyses.push_back(inChild([&] { return analyse(path); }));
    }
    std::filesystem::remove(path);
    const Measure render = median(renders);
    const Measure analysis = median(analyses);
    if (render.seconds < 0 || analysis.seconds < 0) {
      std::fprintf(stderr, "a run failed\n");
      return 1;
    }
    std::printf("%-8s %10.3f %10.1f %12.3f %12.1f %10u %9.2f\n", seconds < 60 ? "15 s" : "10 min", render.seconds,
                render.peakMb, analysis.seconds, analysis.peakMb, defaultAnalysisRows(RenderSettings{}, count),
                analysis.seconds / render.seconds);
  }
  std::printf("goal: analysis no slower than the render (a / r at most 1)\n");
  return 0;
}
