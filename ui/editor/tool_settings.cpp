// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/editor/tool_settings.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace vellomar {

Rgb paintColour(int level, float pan, bool stereo) {
  const auto grey = static_cast<std::uint8_t>(std::clamp(level, 0, 255));
  if (!stereo || pan == 0.0f) return {grey, grey, grey};
  const double angle = (std::clamp(static_cast<double>(pan), -1.0, 1.0) + 1.0) * std::numbers::pi / 4.0;
  const auto channel = [&](double gain) {
    return static_cast<std::uint8_t>(std::clamp(std::lround(grey * std::numbers::sqrt2 * gain), 0L, 255L));
  };
  const std::uint8_t red = channel(std::cos(angle));
  const std::uint8_t green = channel(std::sin(angle));
  return {red, green, std::min(red, green)};
}

}  // namespace vellomar
