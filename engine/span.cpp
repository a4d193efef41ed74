// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/span.h"

#include <cmath>

namespace vellomar {

SpanWeights spanWeights(float a, float b) {
  SpanWeights w;
  auto h = static_cast<std::int32_t>(std::floor(a));
  auto g = static_cast<std::int32_t>(std::ceil(b));
  w.width = static_cast<double>(b - a);
  if (g - h <= 1) {
    if (g == h) {
      // Reversed ends meeting at a whole position: b <= h <= a, so one end
      // lies exactly on h. Pick the cell that holds both.
      if (a == b) {
        w.kind = SpanWeights::Kind::Point;
        w.h = w.g = h;
        return w;
      }
      if (a == static_cast<float>(h) && h > 0) {
        --h;
      } else {
        ++g;
      }
    }
    w.h = h;
    w.g = g;
    if (a == b) {
      // Zero-width span: the value of the interpolant at that point.
      const float wa = static_cast<float>(g) - a;
      w.kind = SpanWeights::Kind::ZeroWidth;
      w.c0 = wa;
      w.c1 = 1.0f - wa;
      return w;
    }
    // Both ends in [h, h + 1]; reversed ends give the same (f(a) + f(b)) / 2.
    const float fh = static_cast<float>(h);
    const float fg = static_cast<float>(g);
    const float m = (1.0f - fg) + b - a + fh;
    w.kind = SpanWeights::Kind::OneCell;
    w.c0 = 0.5f * m;
    w.c1 = fh - a + fg + 1.0f - b;
    w.c2 = a - fh + 1.0f - fg + b;
    return w;
  }

  const float t = a - static_cast<float>(h);
  const float u = static_cast<float>(h + 1) - a;
  const float m = b - static_cast<float>(g - 1);
  const float halfMm = 0.5f * m * m;
  w.h = h;
  w.g = g;
  w.c0 = 0.5f * u * u;
  w.c3 = halfMm;
  if (g - h == 2) {
    w.kind = SpanWeights::Kind::TwoCells;
    w.c1 = 0.5f * (1.0f - t * t) + (m - halfMm);
  } else {
    w.kind = SpanWeights::Kind::ManyCells;
    w.c1 = 1.0f - 0.5f * t * t;
    w.c2 = 0.5f + m - halfMm;
  }
  return w;
}

void applySpanDownColumns(const SpanWeights& w, const float* rows, std::size_t columns, float* out, float* interior) {
  // The same operations as applySpan, in the same order for each column,
  // done a row at a time so that they run along memory.
  auto row = [&](std::int64_t r) { return rows + static_cast<std::size_t>(r) * columns; };
  const float* vh = row(w.h);
  switch (w.kind) {
    case SpanWeights::Kind::Point:
      for (std::size_t x = 0; x < columns; ++x) out[x] = vh[x];
      return;
    case SpanWeights::Kind::ZeroWidth: {
      const float* vg = row(w.g);
      for (std::size_t x = 0; x < columns; ++x) out[x] = w.c0 * vh[x] + w.c1 * vg[x];
      return;
    }
    case SpanWeights::Kind::OneCell: {
      const float* vg = row(w.g);
      for (std::size_t x = 0; x < columns; ++x) {
        const float numerator = w.c0 * (w.c1 * vh[x] + w.c2 * vg[x]);
        out[x] = static_cast<float>(static_cast<double>(numerator) / w.width);
      }
      return;
    }
    case SpanWeights::Kind::TwoCells: {
      const float* v1 = row(w.h + 1);
      const float* vg = row(w.g);
      for (std::size_t x = 0; x < columns; ++x) {
        float sum = w.c0 * vh[x];
        sum += w.c1 * v1[x];
        sum += w.c3 * vg[x];
        out[x] = static_cast<float>(static_cast<double>(sum) / w.width);
      }
      return;
    }
    case SpanWeights::Kind::ManyCells:
    default: {
      for (std::size_t x = 0; x < columns; ++x) interior[x] = 0.0f;
      for (std::int64_t i = w.g - 2; i >= w.h + 2; --i) {
        const float* vi = row(i);
        for (std::size_t x = 0; x < columns; ++x) interior[x] += vi[x];
      }
      const float* v1 = row(w.h + 1);
      const float* vg1 = row(w.g - 1);
      const float* vg = row(w.g);
      for (std::size_t x = 0; x < columns; ++x) {
        float sum = w.c0 * vh[x];
        sum += w.c1 * v1[x];
        sum += interior[x];
        sum += w.c2 * vg1[x];
        sum += w.c3 * vg[x];
        out[x] = static_cast<float>(static_cast<double>(sum) / w.width);
      }
      return;
    }
  }
}

}  // namespace vellomar
