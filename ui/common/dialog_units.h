// SPDX-License-Identifier: GPL-3.0-or-later
// Dialog units: the window templates place controls in units derived from
// the dialog font, so the layout scales with the font.
#pragma once

#include <QFont>
#include <QRect>

namespace vellomar {

// The dialog font: the system's sans-serif at 8 points.
QFont dialogFont();

// Base units of a font: horizontal = average width of the 52 letters
// a-z and A-Z (rounded as the classic dialog manager does), vertical =
// the font's height.
struct DialogBaseUnits {
  int x = 0;
  int y = 0;
};
DialogBaseUnits dialogBaseUnits(const QFont& font);

// Pixels from dialog units: x * base.x / 4 and y * base.y / 8, rounded.
int dluToPixelsX(int dlu, const DialogBaseUnits& base);
int dluToPixelsY(int dlu, const DialogBaseUnits& base);
QRect dluToPixels(int x, int y, int width, int height, const DialogBaseUnits& base);

}  // namespace vellomar
