// SPDX-License-Identifier: GPL-3.0-or-later
// Where frequencies fall on the picture's columns: the render's own mapping
// of its scale and band (pictureMapping over the length W - 1, position 0
// the centre of the leftmost column and W - 1 the centre of the rightmost),
// both ways.
#pragma once

#include <cstdint>
#include <vector>

#include "engine/scales.h"
#include "engine/settings.h"
#include "ui/document/paint_ops.h"

namespace vellomar {

class ColumnScale {
 public:
  ColumnScale(const RenderSettings& settings, std::uint32_t width);

  // The frequency at a column position (column c's centre is position c),
  // and the position of a frequency, as the render places it.
  double frequencyAt(double position) const;
  double positionOf(double hz) const;

  double lowHz() const { return mapping_.fLow; }
  double highHz() const { return mapping_.fHigh; }
  // The greatest position, W - 1.
  double lastPosition() const { return mapping_.length; }

  // The harmonics of the frequency under picture x (x ... x + 1 is a
  // column): the picture x of 2f, 3f, ... up to `count` of them that lie
  // within the band, harmonic k at strength decay^(k - 1).
  std::vector<Stroke::Companion> harmonics(float x, int count, float decay) const;

 private:
  ScaleMapping mapping_;
};

}  // namespace vellomar
