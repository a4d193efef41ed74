// SPDX-License-Identifier: GPL-3.0-or-later
// Cost of turning a picture into filters: the gain matrix once per render
// and one column filter design per filter column.
//
// Goal: a design at N = 8192 on a 1024 x 1024 picture stays well under the
// time its hop of output takes to play (2048 samples = 46 ms), so that the
// filters never dominate a render; in practice a few hundred microseconds.
#include "engine/design.h"

#include <chrono>
#include <cstdio>
#include <vector>

#include "engine/context.h"
#include "engine/settings.h"

using namespace vellomar;

namespace {

double secondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

int main() {
  const std::uint32_t w = 1024, h = 1024;
  std::vector<std::uint8_t> pixels(static_cast<std::size_t>(w) * h);
  for (std::size_t i = 0; i < pixels.size(); ++i) pixels[i] = static_cast<std::uint8_t>((i * 2654435761u) >> 24);
  RenderJob job;
  job.picture = PictureData{pixels.data(), w, w, h};
  std::vector<float> gains(static_cast<std::size_t>(w) * h);

  for (bool logBrightness : {false, true}) {
    job.settings.logBrightness = logBrightness;
    const auto start = std::chrono::steady_clock::now();
    const int rounds = 20;
    for (int i = 0; i < rounds; ++i) buildGainMatrix(job.picture, job.settings, gains.data());
    std::printf("gain matrix %ux%u %s: %.2f ms\n", w, h, logBrightness ? "log" : "linear",
                1e3 * secondsSince(start) / rounds);
  }

  {
    // A photo's matrix, on one thread and on every core: the table makes
    // the log mapping cost what the linear one does.
    const std::uint32_t pw = 8000, ph = 6000;
    std::vector<std::uint8_t> photo(static_cast<std::size_t>(pw) * ph);
    for (std::size_t i = 0; i < photo.size(); ++i) photo[i] = static_cast<std::uint8_t>((i * 2654435761u) >> 24);
    std::vector<float> photoGains(photo.size());
    RenderSettings settings;
    for (bool logBrightness : {false, true}) {
      settings.logBrightness = logBrightness;
      for (std::int32_t threads : {1, 0}) {
        const auto start = std::chrono::steady_clock::now();
        buildGainMatrix(PictureData{photo.data(), pw, pw, ph}, settings, photoGains.data(), threads);
        std::printf("gain matrix %ux%u %s, %s: %.1f ms\n", pw, ph, logBrightness ? "log" : "linear",
                    threads == 1 ? "one thread" : "every core", 1e3 * secondsSince(start));
      }
    }
  }

  job.sampleCount = 44100 * 60;
  const char* names[] = {"Linear", "Logarithmic", "Mel"};
  for (std::int32_t n : {2048, 8192, 32768}) {
    job.settings.blockLength = n;
    std::vector<double> spectrum(2 * static_cast<std::size_t>(n));
    for (int scale = 0; scale < 3; ++scale) {
      job.settings.frequencyScale = static_cast<FrequencyScale>(scale);
      job.settings.inputSource = InputSource::PinkNoise;
      RenderContext context;
      if (configureRenderContext(context, job, gains.data()) != kResultOk) {
        std::printf("no context\n");
        return 1;
      }
      const int designs = 200;
      const auto start = std::chrono::steady_clock::now();
      for (int u = 0; u < designs; ++u) {
        if (designColumnFilter(context, spectrum.data(), u * 7) != kResultOk) {
          std::printf("design failed\n");
          return 1;
        }
      }
      std::printf("design N=%d %-11s: %.3f ms per filter\n", n, names[scale], 1e3 * secondsSince(start) / designs);
    }
  }
  return 0;
}
