// SPDX-License-Identifier: GPL-3.0-or-later
// Painting on the editable picture: brush strokes, shapes, gradients and
// flood fills. Plain functions and objects over the planes; each keeps
// (TileStore::capture) every tile before it writes there and returns the
// rect it wrote, so the command around it can undo it.
//
// Positions are in picture coordinates: pixel (x, y) covers x ... x + 1 and
// y ... y + 1, its centre at (x + 0.5, y + 0.5). Colour is blended in each
// of red, green and blue: a pixel covered by c (0 ... 1) at opacity o
// becomes before + (target - before) * c * o, rounded to the nearest byte,
// and its brightness follows from its colour.
#pragma once

#include <cstdint>
#include <functional>
#include <unordered_map>
#include <vector>

#include "ui/document/picture_planes.h"
#include "ui/document/tile_store.h"

namespace vellomar {

struct PointF {
  float x = 0.0f, y = 0.0f;
};

// A round brush: its diameter in pixels and its hardness, the share of its
// radius painted at full strength (1: a hard edge; below, the strength
// falls smoothly to 0 at the rim).
struct BrushShape {
  float diameter = 9.0f;
  float hardness = 0.8f;
};

// The strength (0 ... 1) a dab gives a pixel whose centre lies (dx, dy)
// from the dab's centre.
float dabCoverage(float dx, float dy, const BrushShape& shape);
// The pixels a dab centred at (cx, cy) can reach.
PixelRect dabReach(float cx, float cy, const BrushShape& shape);

// One colour blended toward another by `amount` (0 ... 1), rounded.
Rgb blend(Rgb from, Rgb to, float amount);

// A stroke of the brush, the eraser (a black brush) or the softener.
// Dabs leave a coverage map, the most any dab gave each pixel, and every
// covered pixel is the state before the stroke blended by that coverage:
// dabs that overlap do not build up, so a stroke is as even as one dab,
// and its result does not depend on how the mouse moves were cut up.
class Stroke {
 public:
  enum class Kind { Paint, Soften };
  // Extra dabs that go with each dab (the harmonics brush): given the dab's
  // x, the x of each companion and its strength.
  struct Companion {
    float x = 0.0f;
    float strength = 0.0f;
  };
  using Companions = std::function<std::vector<Companion>(float x)>;

  Stroke(Kind kind, BrushShape shape, float opacity, Rgb colour, Companions companions = {});

  // One dab at `at`, its coverage times `strength` (the pen's pressure).
  PixelRect dab(PictureBitmap& picture, TileStore& store, PointF at, float strength);
  // Dabs from `from` to `to`, a quarter of the diameter apart (at most a
  // pixel), the strength running from `strengthFrom` to `strengthTo`; the
  // dab at `from` itself only when `withStart` (a stroke's first press).
  PixelRect segment(PictureBitmap& picture, TileStore& store, PointF from, PointF to, float strengthFrom,
                    float strengthTo, bool withStart);

 private:
  PixelRect single(PictureBitmap& picture, TileStore& store, PointF at, float strength);
  std::uint16_t& coverage(std::int64_t x, std::int64_t y);

  Kind kind_;
  BrushShape shape_;
  float opacity_;
  Rgb colour_;
  Companions companions_;
  // Coverage tiles of 64 x 64, by tile number (row << 32 | column), 0 ... 65535.
  std::unordered_map<std::uint64_t, std::vector<std::uint16_t>> coverage_;
  float leftover_ = 0.0f;  // distance along the stroke since the last dab
};

// Outline or filled rectangle and ellipse in the box spanned by `a` and `b`
// (the outline as wide as the brush's diameter, centred on the box's
// edge), and a straight line from `a` to `b` drawn with the brush.
enum class ShapeKind { Line, Rectangle, Ellipse };
PixelRect drawShape(PictureBitmap& picture, TileStore& store, ShapeKind kind, PointF a, PointF b, bool filled,
                    const BrushShape& brush, float opacity, Rgb colour);

// A linear gradient over `area` (clipped to the picture): `from` colour at
// `a`, `to` colour at `b`, constant beyond either end, blended at `opacity`.
PixelRect drawGradient(PictureBitmap& picture, TileStore& store, const PixelRect& area, PointF a, PointF b, Rgb from,
                       Rgb to, float opacity);

// Fills the pixels of `area` connected to `seed` (up, down, left, right)
// whose every colour byte lies within `tolerance` of the seed's, blended
// toward `colour` at `opacity`. Nothing when the seed lies outside `area`.
PixelRect floodFill(PictureBitmap& picture, TileStore& store, const PixelRect& area, std::int64_t seedX,
                    std::int64_t seedY, Rgb colour, float opacity, int tolerance);

}  // namespace vellomar
