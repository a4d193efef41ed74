// Frequency scales: how a frequency becomes a position along the picture's
// columns (and along the frequency rulers).
#pragma once

#include "engine/settings.h"

namespace vellomar {

using WarpFunction = float (*)(float);

// ln f, in double precision, rounded to float. Defined for f > 0.
float logWarp(float f);
// ln(f + 700), the sum formed in float, the logarithm in double, rounded to float.
float melWarp(float f);

// Lowest frequency of the Logarithmic and Mel scales.
inline constexpr float kLowestWarpedFrequency = 16.0f;

// A scale's warp together with its frequency range and a length L: maps a
// frequency to a position between 0 (fLow) and L (fHigh), unclamped. A
// null warp is the linear scale.
struct ScaleMapping {
  WarpFunction warp = nullptr;  // nullptr = linear (identity)
  float fLow = 0.0f;
  float fHigh = 0.0f;
  float length = 0.0f;
  float position(float f) const;
};

// The mapping of `scale` at `sampleRate` for length L.
ScaleMapping scaleMapping(FrequencyScale scale, std::uint32_t sampleRate, float length);

// The band of frequencies the picture's columns span: from the leftmost
// column's frequency to the rightmost's, in Hz.
struct FrequencyBand {
  float lowHz = 0.0f;
  float highHz = 0.0f;
};

// The band of `settings`: the scale's own ends (its lowest frequency, half
// the sample rate) where the settings name none (0).
FrequencyBand pictureBand(const RenderSettings& settings);

// The mapping of the settings' scale over their band, for length L: the
// scale's own warp between the band's ends.
ScaleMapping pictureMapping(const RenderSettings& settings, float length);

}  // namespace vellomar
