// SPDX-License-Identifier: GPL-3.0-or-later
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
  // The frequency at `position` (0 ... length), in double precision: the
  // inverse of position(), exact up to the rounding of its warp's ends.
  double frequencyAt(double position) const;
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

// Whether the settings' band is their scale's own (its lowest frequency to
// half the sample rate), named or not.
bool isOwnBand(const RenderSettings& settings);

// The bands a user may choose on a scale: from lowestHz (0 Hz on the
// Linear scale, the scale's lowest frequency on the others) to highestHz
// (half the sample rate), the low end below the high end by at least one
// bin of the block length (leastWidthHz = rate / N), so that the band
// holds a bin.
struct BandLimits {
  float lowestHz = 0.0f;
  float highestHz = 0.0f;
  double leastWidthHz = 0.0;
};
BandLimits bandLimits(FrequencyScale scale, std::uint32_t sampleRate, std::int32_t blockLength);

// Whether lowHz ... highHz keeps to `limits` (values that are not numbers
// do not).
bool bandFits(const BandLimits& limits, float lowHz, float highHz);

// Whether the settings' band keeps to the limits of their scale, rate and
// block length. A band end below 0 (or not a number) never does.
bool bandFits(const RenderSettings& settings);

}  // namespace vellomar
