// SPDX-License-Identifier: GPL-3.0-or-later
#include "files/levels_report.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace vellomar {

std::int32_t gainAvoidingClips(double peak, std::int32_t masterGainDb) {
  if (!(peak > 0.0)) return kMaxGainDb;
  if (!std::isfinite(peak)) return kMinGainDb - 1;
  // A first guess from the decibels, then checked against the gain factors
  // the render really applies.
  const double room = 20.0 * std::log10(32767.0 / peak);
  auto gain = static_cast<std::int32_t>(std::floor(masterGainDb + room)) + 1;
  gain = std::min(gain, kMaxGainDb);
  const double unit = peak / masterGainFactor(masterGainDb);
  while (gain >= kMinGainDb && unit * masterGainFactor(gain) > 32767.0) --gain;
  return gain;
}

std::string clippingReport(const RenderLevels& levels, std::int32_t masterGainDb) {
  if (levels.clippedSamples == 0) return std::string();
  char text[200];
  const auto count = static_cast<unsigned long long>(levels.clippedSamples);
  const char* noun = count == 1 ? "sample" : "samples";
  const std::int32_t gain = gainAvoidingClips(levels.peak, masterGainDb);
  if (gain >= kMinGainDb) {
    std::snprintf(text, sizeof text, "%llu %s clipped; a master gain of %d dB would avoid it", count, noun,
                  static_cast<int>(gain));
  } else {
    std::snprintf(text, sizeof text, "%llu %s clipped; darken the picture to avoid it", count, noun);
  }
  return text;
}

}  // namespace vellomar
