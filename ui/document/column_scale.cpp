// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/document/column_scale.h"

#include <cmath>

namespace vellomar {

ColumnScale::ColumnScale(const RenderSettings& settings, std::uint32_t width)
    : mapping_(pictureMapping(settings, width > 0 ? static_cast<float>(width - 1) : 0.0f)) {}

double ColumnScale::frequencyAt(double position) const {
  const double length = mapping_.length;
  if (!(length > 0.0)) return (static_cast<double>(mapping_.fLow) + mapping_.fHigh) / 2.0;
  const double share = position / length;
  if (!mapping_.warp) return mapping_.fLow + share * (static_cast<double>(mapping_.fHigh) - mapping_.fLow);
  const double wLow = mapping_.warp(mapping_.fLow);
  const double wHigh = mapping_.warp(mapping_.fHigh);
  const double w = wLow + share * (wHigh - wLow);
  // The warps' inverses: ln f and ln(f + 700).
  if (mapping_.warp == &melWarp) return std::exp(w) - 700.0;
  return std::exp(w);
}

double ColumnScale::positionOf(double hz) const {
  if (mapping_.warp == &logWarp && !(hz > 0.0)) return -INFINITY;
  return mapping_.position(static_cast<float>(hz));
}

std::vector<Stroke::Companion> ColumnScale::harmonics(float x, int count, float decay) const {
  std::vector<Stroke::Companion> out;
  const double f = frequencyAt(static_cast<double>(x) - 0.5);
  if (!(f > 0.0)) return out;
  float strength = 1.0f;
  for (int k = 2; k <= count + 1; ++k) {
    strength *= decay;
    const double position = positionOf(f * k);
    // Beyond the rightmost column's edge the harmonic is out of the band.
    if (!(position <= lastPosition() + 0.5)) break;
    out.push_back({static_cast<float>(position + 0.5), strength});
  }
  return out;
}

}  // namespace vellomar
