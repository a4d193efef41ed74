// SPDX-License-Identifier: GPL-3.0-or-later
// The mean of a piecewise-linear function over an interval, split into the
// part that depends on the interval's ends only (which cells it covers and
// the closed form's coefficients) and the part that reads the samples.
// The column filter design averages over the same intervals again and
// again with new samples: it computes the weights once.
#pragma once

#include <cstdint>

namespace vellomar {

// The weights of the mean over [a, b] of the function through
// (i, v[i * stride]), in single precision as the closed form forms them.
struct SpanWeights {
  enum class Kind : std::uint8_t {
    Point,      // a == b on a whole position: v[h]
    ZeroWidth,  // a == b inside cell [h, g]: c0 v[h] + c1 v[g]
    OneCell,    // both ends in cell [h, g]: c0 (c1 v[h] + c2 v[g]) / width
    TwoCells,   // [h, h + 2]: (c0 v[h] + c1 v[h + 1] + c3 v[g]) / width
    ManyCells,  // c0 v[h] + c1 v[h + 1] + (v[h + 2] ... v[g - 2]) + c2 v[g - 1] + c3 v[g], / width
  };
  Kind kind = Kind::Point;
  std::int32_t h = 0;
  std::int32_t g = 0;
  float c0 = 0.0f;
  float c1 = 0.0f;
  float c2 = 0.0f;
  float c3 = 0.0f;
  double width = 1.0;  // b - a, formed in single precision
};

// The weights for [a, b]. Needs 0 <= floor(a) and ceil(b) <= last index;
// b may lie slightly below a, both ends then in one cell.
SpanWeights spanWeights(float a, float b);

// The mean itself: the same value, bit for bit, as the closed form
// evaluated from a and b directly.
inline double applySpan(const SpanWeights& w, const float* v, std::int64_t stride) {
  const float vh = v[w.h * stride];
  switch (w.kind) {
    case SpanWeights::Kind::Point:
      return static_cast<double>(vh);
    case SpanWeights::Kind::ZeroWidth:
      return static_cast<double>(w.c0 * vh + w.c1 * v[w.g * stride]);
    case SpanWeights::Kind::OneCell: {
      const float numerator = w.c0 * (w.c1 * vh + w.c2 * v[w.g * stride]);
      return static_cast<double>(numerator) / w.width;
    }
    case SpanWeights::Kind::TwoCells: {
      float sum = w.c0 * vh;
      sum += w.c1 * v[(w.h + 1) * stride];
      sum += w.c3 * v[w.g * stride];
      return static_cast<double>(sum) / w.width;
    }
    case SpanWeights::Kind::ManyCells:
    default: {
      float sum = w.c0 * vh;
      float interior = 0.0f;
      for (std::int64_t i = w.g - 2; i >= w.h + 2; --i) interior += v[i * stride];
      sum += w.c1 * v[(w.h + 1) * stride];
      sum += interior;
      sum += w.c2 * v[static_cast<std::int64_t>(w.g - 1) * stride];
      sum += w.c3 * v[static_cast<std::int64_t>(w.g) * stride];
      return static_cast<double>(sum) / w.width;
    }
  }
}

// applySpan for every column x of a row-major matrix of `columns` floats a
// row, the weights running down the rows: out[x] is the mean of column x,
// rounded to float. `interior` holds `columns` floats of scratch.
void applySpanDownColumns(const SpanWeights& w, const float* rows, std::size_t columns, float* out, float* interior);

}  // namespace vellomar
