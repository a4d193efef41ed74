// SPDX-License-Identifier: GPL-3.0-or-later
// What a rectangular selection does to the pixels under it: copy, fill,
// paste, move, scale, flip, brightness and contrast. Like the paint
// operations, each keeps the tiles it writes and returns the rect written.
// Pixel blocks travel as QImage (32-bit RGB), the form the clipboard takes.
#pragma once

#include <QImage>

#include "ui/document/picture_planes.h"
#include "ui/document/tile_store.h"

namespace vellomar {

// The pixels of `rect` (clipped to the picture) as an RGB image; null when
// nothing of it lies in the picture.
QImage copyRegion(const PictureBitmap& picture, const PixelRect& rect);

// Paints `rect` in one colour.
PixelRect fillRegion(PictureBitmap& picture, TileStore& store, const PixelRect& rect, Rgb colour);

// Writes `image` with its top-left pixel at (x, y), clipped to the picture.
// Its colour bytes count, whatever their transparency (as when a picture is
// loaded).
PixelRect pasteImage(PictureBitmap& picture, TileStore& store, const QImage& image, std::int64_t x, std::int64_t y);

// Moves the pixels of `rect` by (dx, dy): black where they were, and over
// whatever lies where they go. Returns both places.
PixelRect moveRegion(PictureBitmap& picture, TileStore& store, const PixelRect& rect, std::int64_t dx,
                     std::int64_t dy);

// Scales the pixels of `rect` to width x height (smoothly), keeping its
// top-left corner; black where it was and is no longer.
PixelRect scaleRegion(PictureBitmap& picture, TileStore& store, const PixelRect& rect, std::int64_t width,
                      std::int64_t height);

// Mirrors `rect`: in time (top to bottom) or in frequency (left to right).
enum class FlipAxis { Time, Frequency };
PixelRect flipRegion(PictureBitmap& picture, TileStore& store, const PixelRect& rect, FlipAxis axis);

// Brightness and contrast of every colour byte in `rect`:
// v' = (v - 127.5) * contrast + 127.5 + brightness, rounded and held
// within 0 ... 255. contrast 1 and brightness 0 change nothing.
PixelRect adjustRegion(PictureBitmap& picture, TileStore& store, const PixelRect& rect, int brightness,
                       double contrast);

}  // namespace vellomar
