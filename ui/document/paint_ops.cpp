// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/document/paint_ops.h"

#include <algorithm>
#include <cmath>

namespace vellomar {

namespace {

constexpr std::int64_t kCoverageTile = 64;
constexpr float kFullCoverage = 65535.0f;

// Brushes this narrow paint the one pixel under the point: a pencil.
constexpr float kPencilDiameter = 1.5f;

std::uint8_t mix(std::uint8_t from, std::uint8_t to, float amount) {
  const float v = static_cast<float>(from) + (static_cast<float>(to) - static_cast<float>(from)) * amount;
  return static_cast<std::uint8_t>(std::clamp(std::lround(v), 0L, 255L));
}

PixelRect clipped(const PixelRect& r, const PictureBitmap& p) { return r.intersected(boundsOf(p)); }

// The mean colour of the 5 x 5 pixels around (x, y) as they were before
// the stroke (those inside the picture).
Rgb softened(const PictureBitmap& picture, const TileStore& store, std::int64_t x, std::int64_t y) {
  constexpr std::int64_t kReach = 2;
  int r = 0, g = 0, b = 0, n = 0;
  for (std::int64_t v = std::max<std::int64_t>(0, y - kReach); v <= std::min<std::int64_t>(picture.height - 1, y + kReach); ++v) {
    for (std::int64_t u = std::max<std::int64_t>(0, x - kReach); u <= std::min<std::int64_t>(picture.width - 1, x + kReach); ++u) {
      const Rgb c = store.keptOr(picture, u, v);
      r += c.r;
      g += c.g;
      b += c.b;
      ++n;
    }
  }
  const auto mean = [n](int sum) { return static_cast<std::uint8_t>((sum + n / 2) / n); };
  return {mean(r), mean(g), mean(b)};
}

}  // namespace

Rgb blend(Rgb from, Rgb to, float amount) {
  return {mix(from.r, to.r, amount), mix(from.g, to.g, amount), mix(from.b, to.b, amount)};
}

float dabCoverage(float dx, float dy, const BrushShape& shape) {
  const float radius = shape.diameter * 0.5f;
  const float d = std::sqrt(dx * dx + dy * dy);
  if (d > radius) return 0.0f;
  const float inner = std::clamp(shape.hardness, 0.0f, 1.0f) * radius;
  if (d <= inner) return 1.0f;
  const float t = (d - inner) / (radius - inner);
  return 1.0f - t * t * (3.0f - 2.0f * t);
}

PixelRect dabReach(float cx, float cy, const BrushShape& shape) {
  if (shape.diameter <= kPencilDiameter) {
    const auto x = static_cast<std::int64_t>(std::floor(cx));
    const auto y = static_cast<std::int64_t>(std::floor(cy));
    return {x, y, x + 1, y + 1};
  }
  const float radius = shape.diameter * 0.5f;
  return {static_cast<std::int64_t>(std::floor(cx - radius)), static_cast<std::int64_t>(std::floor(cy - radius)),
          static_cast<std::int64_t>(std::ceil(cx + radius)) + 1, static_cast<std::int64_t>(std::ceil(cy + radius)) + 1};
}

Stroke::Stroke(Kind kind, BrushShape shape, float opacity, Rgb colour, Companions companions)
    : kind_(kind), shape_(shape), opacity_(std::clamp(opacity, 0.0f, 1.0f)), colour_(colour),
      companions_(std::move(companions)) {}

std::uint16_t& Stroke::coverage(std::int64_t x, std::int64_t y) {
  const std::uint64_t key = static_cast<std::uint64_t>(y / kCoverageTile) << 32 | static_cast<std::uint64_t>(x / kCoverageTile);
  std::vector<std::uint16_t>& tile = coverage_[key];
  if (tile.empty()) tile.assign(static_cast<std::size_t>(kCoverageTile * kCoverageTile), 0);
  return tile[static_cast<std::size_t>((y % kCoverageTile) * kCoverageTile + x % kCoverageTile)];
}

PixelRect Stroke::single(PictureBitmap& picture, TileStore& store, PointF at, float strength) {
  const PixelRect rect = clipped(dabReach(at.x, at.y, shape_), picture);
  if (rect.empty() || !(strength > 0.0f)) return {};
  store.capture(picture, rect);
  const bool pencil = shape_.diameter <= kPencilDiameter;
  PixelRect written;
  for (std::int64_t y = rect.y0; y < rect.y1; ++y) {
    for (std::int64_t x = rect.x0; x < rect.x1; ++x) {
      const float c = pencil ? 1.0f : dabCoverage(static_cast<float>(x) + 0.5f - at.x, static_cast<float>(y) + 0.5f - at.y, shape_);
      const auto amount = static_cast<std::uint16_t>(std::lround(std::min(1.0f, c * strength) * kFullCoverage));
      std::uint16_t& covered = coverage(x, y);
      if (amount <= covered) continue;
      covered = amount;
      const Rgb before = store.keptOr(picture, x, y);
      const Rgb target = kind_ == Kind::Paint ? colour_ : softened(picture, store, x, y);
      setColour(picture, x, y, blend(before, target, static_cast<float>(amount) / kFullCoverage * opacity_));
      written = written.united({x, y, x + 1, y + 1});
    }
  }
  return written;
}

PixelRect Stroke::dab(PictureBitmap& picture, TileStore& store, PointF at, float strength) {
  PixelRect written = single(picture, store, at, strength);
  if (companions_) {
    for (const Companion& c : companions_(at.x)) {
      written = written.united(single(picture, store, PointF{c.x, at.y}, strength * c.strength));
    }
  }
  return written;
}

PixelRect Stroke::segment(PictureBitmap& picture, TileStore& store, PointF from, PointF to, float strengthFrom,
                          float strengthTo, bool withStart) {
  PixelRect written;
  if (withStart) {
    written = dab(picture, store, from, strengthFrom);
    leftover_ = 0.0f;
  }
  const float dx = to.x - from.x;
  const float dy = to.y - from.y;
  const float length = std::sqrt(dx * dx + dy * dy);
  if (!(length > 0.0f)) return written;
  const float spacing = std::max(0.5f, shape_.diameter / 8.0f);
  float t = spacing - leftover_;
  for (; t <= length; t += spacing) {
    const float f = t / length;
    const PointF at{from.x + dx * f, from.y + dy * f};
    written = written.united(dab(picture, store, at, strengthFrom + (strengthTo - strengthFrom) * f));
  }
  leftover_ = length - (t - spacing);
  return written;
}

PixelRect drawShape(PictureBitmap& picture, TileStore& store, ShapeKind kind, PointF a, PointF b, bool filled,
                    const BrushShape& brush, float opacity, Rgb colour) {
  if (kind == ShapeKind::Line) {
    Stroke line(Stroke::Kind::Paint, brush, opacity, colour);
    return line.segment(picture, store, a, b, 1.0f, 1.0f, true);
  }
  // The box of whole pixels between the two corners' pixels, both included.
  const auto x0 = static_cast<std::int64_t>(std::floor(std::min(a.x, b.x)));
  const auto x1 = static_cast<std::int64_t>(std::floor(std::max(a.x, b.x)));
  const auto y0 = static_cast<std::int64_t>(std::floor(std::min(a.y, b.y)));
  const auto y1 = static_cast<std::int64_t>(std::floor(std::max(a.y, b.y)));
  const PixelRect rect = clipped({x0, y0, x1 + 1, y1 + 1}, picture);
  if (rect.empty()) return {};
  const auto line = std::max<std::int64_t>(1, std::lround(brush.diameter));
  const double cx = static_cast<double>(x0 + x1 + 1) / 2.0, cy = static_cast<double>(y0 + y1 + 1) / 2.0;
  const double rx = static_cast<double>(x1 - x0 + 1) / 2.0, ry = static_cast<double>(y1 - y0 + 1) / 2.0;
  const double irx = rx - static_cast<double>(line), iry = ry - static_cast<double>(line);
  const auto inside = [&](std::int64_t x, std::int64_t y) {
    if (kind == ShapeKind::Rectangle) {
      return filled || x - x0 < line || x1 - x < line || y - y0 < line || y1 - y < line;
    }
    const double px = static_cast<double>(x) + 0.5 - cx, py = static_cast<double>(y) + 0.5 - cy;
    if ((px * px) / (rx * rx) + (py * py) / (ry * ry) > 1.0) return false;
    if (filled || irx <= 0.0 || iry <= 0.0) return true;
    return (px * px) / (irx * irx) + (py * py) / (iry * iry) > 1.0;
  };
  store.capture(picture, rect);
  PixelRect written;
  for (std::int64_t y = rect.y0; y < rect.y1; ++y) {
    for (std::int64_t x = rect.x0; x < rect.x1; ++x) {
      if (!inside(x, y)) continue;
      setColour(picture, x, y, blend(store.keptOr(picture, x, y), colour, opacity));
      written = written.united({x, y, x + 1, y + 1});
    }
  }
  return written;
}

PixelRect drawGradient(PictureBitmap& picture, TileStore& store, const PixelRect& area, PointF a, PointF b, Rgb from,
                       Rgb to, float opacity) {
  const PixelRect rect = clipped(area, picture);
  if (rect.empty()) return {};
  store.capture(picture, rect);
  const double dx = b.x - a.x, dy = b.y - a.y;
  const double length2 = dx * dx + dy * dy;
  for (std::int64_t y = rect.y0; y < rect.y1; ++y) {
    for (std::int64_t x = rect.x0; x < rect.x1; ++x) {
      double t = 0.0;
      if (length2 > 0.0) {
        t = ((static_cast<double>(x) + 0.5 - a.x) * dx + (static_cast<double>(y) + 0.5 - a.y) * dy) / length2;
        t = std::clamp(t, 0.0, 1.0);
      }
      const Rgb target = blend(from, to, static_cast<float>(t));
      setColour(picture, x, y, blend(store.keptOr(picture, x, y), target, opacity));
    }
  }
  return rect;
}

PixelRect floodFill(PictureBitmap& picture, TileStore& store, const PixelRect& area, std::int64_t seedX,
                    std::int64_t seedY, Rgb colour, float opacity, int tolerance) {
  const PixelRect rect = clipped(area, picture);
  if (!rect.contains(seedX, seedY)) return {};
  const Rgb seed = colourAt(picture, seedX, seedY);
  const auto near = [&](std::int64_t x, std::int64_t y) {
    const Rgb c = colourAt(picture, x, y);
    return std::abs(c.r - seed.r) <= tolerance && std::abs(c.g - seed.g) <= tolerance && std::abs(c.b - seed.b) <= tolerance;
  };
  const std::int64_t w = rect.width();
  std::vector<std::uint8_t> mask(static_cast<std::size_t>(w * rect.height()), 0);
  const auto marked = [&](std::int64_t x, std::int64_t y) -> std::uint8_t& {
    return mask[static_cast<std::size_t>((y - rect.y0) * w + (x - rect.x0))];
  };
  // Scanline fill: each run of matching pixels is marked whole, and the
  // rows above and below are searched along it for runs still to do.
  PixelRect filled;
  std::vector<std::pair<std::int64_t, std::int64_t>> todo{{seedX, seedY}};
  while (!todo.empty()) {
    const auto [sx, y] = todo.back();
    todo.pop_back();
    if (marked(sx, y) || !near(sx, y)) continue;
    std::int64_t left = sx, right = sx;
    while (left > rect.x0 && !marked(left - 1, y) && near(left - 1, y)) --left;
    while (right + 1 < rect.x1 && !marked(right + 1, y) && near(right + 1, y)) ++right;
    for (std::int64_t x = left; x <= right; ++x) marked(x, y) = 1;
    filled = filled.united({left, y, right + 1, y + 1});
    for (const std::int64_t ny : {y - 1, y + 1}) {
      if (ny < rect.y0 || ny >= rect.y1) continue;
      bool inRun = false;
      for (std::int64_t x = left; x <= right; ++x) {
        const bool open = !marked(x, ny) && near(x, ny);
        if (open && !inRun) todo.emplace_back(x, ny);
        inRun = open;
      }
    }
  }
  if (filled.empty()) return {};
  store.capture(picture, filled);
  for (std::int64_t y = filled.y0; y < filled.y1; ++y) {
    for (std::int64_t x = filled.x0; x < filled.x1; ++x) {
      if (marked(x, y)) setColour(picture, x, y, blend(colourAt(picture, x, y), colour, opacity));
    }
  }
  return filled;
}

}  // namespace vellomar
