#include "engine/settings.h"

#include <cmath>

namespace vellomar {

RenderSettings renderSettings;
PictureData pictureData;
RenderJob renderJob;
std::int32_t randomSeed = kInitialRandomSeed;
std::atomic<bool> abortRequested{false};
float inputWaveDuration = 0.0f;

std::uint32_t noiseSampleCount(std::uint32_t sampleRate, float durationSeconds) {
  const float rate = static_cast<float>(sampleRate);
  const double product = static_cast<double>(rate) * static_cast<double>(durationSeconds);
  if (!(product > 0.0)) return 0;
  if (product >= 4294967295.0) return 4294967295u;
  return static_cast<std::uint32_t>(product);
}

std::uint64_t blockCount(std::uint64_t count, std::int32_t n) {
  const auto un = static_cast<std::uint64_t>(n);
  return (count + un / 2 + un - 1) / un;
}

double masterGainFactor(std::int32_t db) {
  return std::exp(static_cast<double>(db) * 0.11512925);
}

}  // namespace vellomar
