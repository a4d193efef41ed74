// SPDX-License-Identifier: GPL-3.0-or-later
// The editor's tools and what the user has set for them.
#pragma once

#include "ui/document/paint_ops.h"

namespace vellomar {

enum class Tool { Select, Brush, Eraser, Line, Rectangle, Ellipse, Gradient, Fill, Soften, Harmonics };

struct ToolSettings {
  Tool tool = Tool::Brush;
  BrushShape brush{9.0f, 0.8f};
  float opacity = 1.0f;     // 0 ... 1
  int level = 255;          // the brush's brightness, 0 ... 255
  float pan = 0.0f;         // stereo: -1 (left, red) ... +1 (right, green)
  bool filled = false;      // rectangle and ellipse
  int harmonics = 4;        // harmonics brush: how many above the stroke
  float decay = 0.6f;       // each harmonic's strength times this
  int tolerance = 16;       // flood fill: colour bytes this close count as the seed's
};

// The colour a brush of `level` paints. Grey (equal red, green and blue)
// unless the picture is stereo and the brush panned. The pan follows the
// equal-power law: at angle a = (pan + 1) * pi / 4, red (the left channel)
// is level * sqrt(2) * cos a and green (the right) level * sqrt(2) * sin a,
// so red^2 + green^2 = 2 * level^2 at every pan (brightness is a linear
// gain, its square the power) and the centre gives red = green = level;
// bytes above 255 are held at 255. Blue is the lesser of red and green:
// the centre stays grey, a hard pan paints pure red or green.
Rgb paintColour(int level, float pan, bool stereo);

}  // namespace vellomar
