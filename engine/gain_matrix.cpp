// SPDX-License-Identifier: GPL-3.0-or-later
// The gain matrix: one gain per picture pixel, from a table of the 256
// gains of the brightness mapping, built in bands of rows on the render's
// threads.
#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstddef>

#include "engine/design.h"
#include "engine/worker_threads.h"

namespace vellomar {
namespace {

constexpr float kOneOver255 = 1.0f / 255.0f;  // 0.0039215689
// Rows a thread takes at a time.
constexpr std::size_t kBandRows = 32;
// Pictures with fewer pixels are built on the calling thread alone: a
// thread would take longer to start than they take to build.
constexpr std::size_t kParallelPixels = std::size_t{1} << 22;

// Rows first ... end - 1 (row 0 the top one) from the table.
void fillRows(const PictureData& pic, const float* table, float* gains, std::size_t first, std::size_t end) {
  const std::size_t w = pic.width;
  const std::size_t h = pic.height;
  for (std::size_t r = first; r < end; ++r) {
    const std::uint8_t* row = pic.pixels + (h - 1 - r) * pic.stride;
    float* out = gains + r * w;
    for (std::size_t x = 0; x < w; ++x) out[x] = table[row[x]];
  }
}

}  // namespace

void buildGainTable(const RenderSettings& settings, float* table) {
  if (!settings.logBrightness) {
    for (int v = 0; v < 256; ++v) table[v] = static_cast<float>(v) * kOneOver255;
    return;
  }
  const auto range = static_cast<std::uint32_t>(settings.logRangeDb);
  const float ln10 = static_cast<float>(std::log(10.0));
  const float alpha = ln10 / 20.0f * static_cast<float>(range) * kOneOver255;
  const float beta = alpha * -255.0f;
  for (int v = 0; v < 256; ++v) {
    // The exponent is formed in double and rounded once: 255 gives
    // exp(-1.2e-7) = 0.99999988 at 60 dB, not exactly 1.
    const auto exponent = static_cast<float>(static_cast<double>(v) * alpha + static_cast<double>(beta));
    table[v] = static_cast<float>(std::exp(static_cast<double>(exponent)));
  }
  // Sine tones have no noise floor to keep: black is silence under this
  // mapping too, whose floor then starts at brightness 1.
  if (settings.inputSource == InputSource::SineTones) table[0] = 0.0f;
}

void buildGainMatrix(const PictureData& pic, const RenderSettings& settings, float* gains, std::int32_t threads,
                     const std::function<void(int)>& progress) {
  if (pic.width == 0 || pic.height == 0 || !pic.pixels || !gains) return;
  float table[256];
  buildGainTable(settings, table);
  const std::size_t h = pic.height;
  const std::size_t bands = (h + kBandRows - 1) / kBandRows;
  if (threads <= 0) threads = availableCores();
  const bool parallel = static_cast<std::size_t>(pic.width) * h >= kParallelPixels && threads > 1 && bands > 1;
  const std::size_t helpers = parallel ? std::min<std::size_t>(static_cast<std::size_t>(threads) - 1, bands - 1) : 0;

  std::atomic<std::size_t> next{0};
  std::atomic<std::size_t> done{0};
  // Takes the next band until none is left; true when it built one.
  auto buildBand = [&]() {
    const std::size_t band = next.fetch_add(1);
    if (band >= bands) return false;
    fillRows(pic, table, gains, band * kBandRows, std::min(h, (band + 1) * kBandRows));
    done.fetch_add(1);
    return true;
  };
  auto report = [&](int thousandths) {
    if (!progress) return;
    try {
      progress(thousandths);
    } catch (...) {
    }
  };
  WorkerThreads workers;
  // Helpers that cannot start leave their bands to the others.
  if (helpers > 0) workers.start(helpers, [&](std::size_t) {
      while (buildBand()) {
      }
    });
  int reported = -1;
  while (buildBand()) {
    const auto thousandths = static_cast<int>(done.load() * 1000 / bands);
    if (thousandths != reported && thousandths < 1000) report(reported = thousandths);
  }
  workers.join();
  report(1000);
}

}  // namespace vellomar
