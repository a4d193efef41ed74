// SPDX-License-Identifier: GPL-3.0-or-later
// The picture as the document edits it: a PictureBitmap whose red, green
// and blue planes all cover it, its brightness bytes always derived from
// them by the loader's formula. Plain functions over the planes, in
// picture coordinates (x = column from the left, y = row from the top;
// the bytes themselves are stored bottom-up as the render reads them).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "files/picture.h"

namespace vellomar {

struct Rgb {
  std::uint8_t r = 0, g = 0, b = 0;
  bool operator==(const Rgb&) const = default;
};

// A rectangle of pixels, half-open: columns x0 ... x1 - 1, rows y0 ... y1 - 1.
struct PixelRect {
  std::int64_t x0 = 0, y0 = 0, x1 = 0, y1 = 0;
  bool empty() const { return x1 <= x0 || y1 <= y0; }
  std::int64_t width() const { return x1 - x0; }
  std::int64_t height() const { return y1 - y0; }
  bool contains(std::int64_t x, std::int64_t y) const { return x >= x0 && x < x1 && y >= y0 && y < y1; }
  PixelRect intersected(const PixelRect& o) const;
  PixelRect united(const PixelRect& o) const;
  bool operator==(const PixelRect&) const = default;
};

// The whole of a picture.
inline PixelRect boundsOf(const PictureBitmap& p) { return {0, 0, p.width, p.height}; }

// The brightness of a colour, as brightnessOf computes it, from tables
// (the same products summed in the same order).
std::uint8_t brightnessFast(std::uint8_t r, std::uint8_t g, std::uint8_t b);

// Offset of pixel (x, y) in every plane.
inline std::size_t offsetOf(const PictureBitmap& p, std::int64_t x, std::int64_t y) {
  return static_cast<std::size_t>(p.height - 1 - static_cast<std::uint32_t>(y)) * p.stride + static_cast<std::size_t>(x);
}

inline Rgb colourAt(const PictureBitmap& p, std::int64_t x, std::int64_t y) {
  const std::size_t i = offsetOf(p, x, y);
  return {p.red[i], p.green[i], p.blue[i]};
}

inline void setColour(PictureBitmap& p, std::int64_t x, std::int64_t y, Rgb c) {
  const std::size_t i = offsetOf(p, x, y);
  p.red[i] = c.r;
  p.green[i] = c.g;
  p.blue[i] = c.b;
  p.pixels[i] = brightnessFast(c.r, c.g, c.b);
}

// Whether the red, green and blue planes cover the picture.
bool hasColourPlanes(const PictureBitmap& p);

// A black picture of width x height, or null when it cannot be allocated.
std::shared_ptr<PictureBitmap> blankPicture(std::uint32_t width, std::uint32_t height);

// An editable copy of `source`, or null when it cannot be allocated: its
// colour planes where it has them (a blue plane it lacks is 0, as in an
// analysis of a stereo wave); a grey picture becomes equal red, green and
// blue. The brightness is derived from the colours, so for every picture
// the loader or the analysis made it is the same bytes.
std::shared_ptr<PictureBitmap> editableCopy(const PictureBitmap& source);

// Copies the pixels of `rect` in every plane from `from` to `to` (two
// pictures of one size).
void copyRect(const PictureBitmap& from, PictureBitmap& to, const PixelRect& rect);

// Bytes a picture of width x height takes in one copy of its four planes.
std::uint64_t pictureBytes(std::uint64_t width, std::uint64_t height);

}  // namespace vellomar
