// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/scales.h"

#include <cmath>

namespace vellomar {

float logWarp(float f) { return static_cast<float>(std::log(static_cast<double>(f))); }

float melWarp(float f) {
  const float shifted = f + 700.0f;
  return static_cast<float>(std::log(static_cast<double>(shifted)));
}

float ScaleMapping::position(float f) const {
  // Linear from DC: (f - 0) * L / (fHigh - 0) is f * L / fHigh exactly.
  if (!warp) return (f - fLow) * length / (fHigh - fLow);
  const float wLow = warp(fLow);
  const float wHigh = warp(fHigh);
  return (warp(f) - wLow) * length / (wHigh - wLow);
}

double ScaleMapping::frequencyAt(double pos) const {
  const double share = pos / static_cast<double>(length);
  const double low = fLow;
  const double high = fHigh;
  if (!warp) return low + share * (high - low);
  // Both warps are logarithms: ln f, or ln(f + 700).
  const double shift = warp == melWarp ? 700.0 : 0.0;
  const double wLow = std::log(low + shift);
  const double wHigh = std::log(high + shift);
  return std::exp(wLow + share * (wHigh - wLow)) - shift;
}

ScaleMapping scaleMapping(FrequencyScale scale, std::uint32_t sampleRate, float length) {
  ScaleMapping m;
  m.fHigh = static_cast<float>(sampleRate) / 2.0f;
  m.length = length;
  switch (scale) {
    case FrequencyScale::Logarithmic:
      m.warp = logWarp;
      m.fLow = kLowestWarpedFrequency;
      break;
    case FrequencyScale::Mel:
      m.warp = melWarp;
      m.fLow = kLowestWarpedFrequency;
      break;
    case FrequencyScale::Linear:
    default:
      // Linear runs from DC; an unknown scale is drawn as Linear (the
      // design refuses it).
      m.warp = nullptr;
      m.fLow = 0.0f;
      break;
  }
  return m;
}

FrequencyBand pictureBand(const RenderSettings& settings) {
  const ScaleMapping own = scaleMapping(settings.frequencyScale, settings.sampleRate, 1.0f);
  FrequencyBand band{own.fLow, own.fHigh};
  if (settings.bandLowHz > 0.0f) band.lowHz = settings.bandLowHz;
  if (settings.bandHighHz > 0.0f) band.highHz = settings.bandHighHz;
  return band;
}

ScaleMapping pictureMapping(const RenderSettings& settings, float length) {
  ScaleMapping m = scaleMapping(settings.frequencyScale, settings.sampleRate, length);
  const FrequencyBand band = pictureBand(settings);
  m.fLow = band.lowHz;
  m.fHigh = band.highHz;
  return m;
}

bool isOwnBand(const RenderSettings& settings) {
  const ScaleMapping own = scaleMapping(settings.frequencyScale, settings.sampleRate, 1.0f);
  const FrequencyBand band = pictureBand(settings);
  return band.lowHz == own.fLow && band.highHz == own.fHigh;
}

BandLimits bandLimits(FrequencyScale scale, std::uint32_t sampleRate, std::int32_t blockLength) {
  const ScaleMapping own = scaleMapping(scale, sampleRate, 1.0f);
  BandLimits limits;
  limits.lowestHz = own.fLow;
  limits.highestHz = own.fHigh;
  limits.leastWidthHz = blockLength > 0 ? static_cast<double>(sampleRate) / static_cast<double>(blockLength) : 0.0;
  return limits;
}

bool bandFits(const BandLimits& limits, float lowHz, float highHz) {
  // Written so that a value that is not a number fails every test.
  return lowHz >= limits.lowestHz && highHz <= limits.highestHz &&
         static_cast<double>(highHz) - static_cast<double>(lowHz) >= limits.leastWidthHz;
}

bool bandFits(const RenderSettings& settings) {
  if (!(settings.bandLowHz >= 0.0f) || !(settings.bandHighHz >= 0.0f)) return false;
  const FrequencyBand band = pictureBand(settings);
  return bandFits(bandLimits(settings.frequencyScale, settings.sampleRate, settings.blockLength), band.lowHz,
                  band.highHz);
}

}  // namespace vellomar
