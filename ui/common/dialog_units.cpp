// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/common/dialog_units.h"

#include <QFontMetrics>
#include <QString>

namespace vellomar {
namespace {

// MulDiv-style rounding of value * numerator / denominator.
int scaleRounded(int value, int numerator, int denominator) {
  const long long product = static_cast<long long>(value) * numerator;
  const long long half = denominator / 2;
  return static_cast<int>(product >= 0 ? (product + half) / denominator : -((-product + half) / denominator));
}

}  // namespace

QFont dialogFont() {
  QFont font(QStringLiteral("Sans Serif"));
  font.setStyleHint(QFont::SansSerif);
  font.setPointSize(8);
  return font;
}

DialogBaseUnits dialogBaseUnits(const QFont& font) {
  const QFontMetrics metrics(font);
  const int letters = metrics.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
  return {(letters / 26 + 1) / 2, metrics.height()};
}

int dluToPixelsX(int dlu, const DialogBaseUnits& base) { return scaleRounded(dlu, base.x, 4); }
int dluToPixelsY(int dlu, const DialogBaseUnits& base) { return scaleRounded(dlu, base.y, 8); }

QRect dluToPixels(int x, int y, int width, int height, const DialogBaseUnits& base) {
  return QRect(dluToPixelsX(x, base), dluToPixelsY(y, base), dluToPixelsX(width, base), dluToPixelsY(height, base));
}

}  // namespace vellomar
