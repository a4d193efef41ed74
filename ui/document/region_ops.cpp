// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/document/region_ops.h"

#include <algorithm>
#include <cmath>

namespace vellomar {

namespace {

PixelRect clipped(const PixelRect& r, const PictureBitmap& p) { return r.intersected(boundsOf(p)); }

}  // namespace

QImage copyRegion(const PictureBitmap& picture, const PixelRect& wanted) {
  const PixelRect rect = clipped(wanted, picture);
  if (rect.empty()) return QImage();
  QImage image(static_cast<int>(rect.width()), static_cast<int>(rect.height()), QImage::Format_RGB32);
  if (image.isNull()) return image;
  for (std::int64_t y = rect.y0; y < rect.y1; ++y) {
    auto* line = reinterpret_cast<QRgb*>(image.scanLine(static_cast<int>(y - rect.y0)));
    for (std::int64_t x = rect.x0; x < rect.x1; ++x) {
      const Rgb c = colourAt(picture, x, y);
      line[x - rect.x0] = qRgb(c.r, c.g, c.b);
    }
  }
  return image;
}

PixelRect fillRegion(PictureBitmap& picture, TileStore& store, const PixelRect& wanted, Rgb colour) {
  const PixelRect rect = clipped(wanted, picture);
  if (rect.empty()) return {};
  store.capture(picture, rect);
  for (std::int64_t y = rect.y0; y < rect.y1; ++y) {
    for (std::int64_t x = rect.x0; x < rect.x1; ++x) setColour(picture, x, y, colour);
  }
  return rect;
}

PixelRect pasteImage(PictureBitmap& picture, TileStore& store, const QImage& source, std::int64_t x0,
                     std::int64_t y0) {
  if (source.isNull()) return {};
  const PixelRect rect = clipped({x0, y0, x0 + source.width(), y0 + source.height()}, picture);
  if (rect.empty()) return {};
  // Straight (not premultiplied) colour bytes, as the loader reads them.
  const QImage image = source.format() == QImage::Format_ARGB32 || source.format() == QImage::Format_RGB32
                           ? source
                           : source.convertToFormat(source.hasAlphaChannel() ? QImage::Format_ARGB32 : QImage::Format_RGB32);
  if (image.isNull()) return {};
  store.capture(picture, rect);
  for (std::int64_t y = rect.y0; y < rect.y1; ++y) {
    const auto* line = reinterpret_cast<const QRgb*>(image.constScanLine(static_cast<int>(y - y0)));
    for (std::int64_t x = rect.x0; x < rect.x1; ++x) {
      const QRgb c = line[x - x0];
      setColour(picture, x, y,
                Rgb{static_cast<std::uint8_t>(qRed(c)), static_cast<std::uint8_t>(qGreen(c)), static_cast<std::uint8_t>(qBlue(c))});
    }
  }
  return rect;
}

PixelRect moveRegion(PictureBitmap& picture, TileStore& store, const PixelRect& rect, std::int64_t dx,
                     std::int64_t dy) {
  const QImage moved = copyRegion(picture, rect);
  if (moved.isNull()) return {};
  const PixelRect from = clipped(rect, picture);
  PixelRect written = fillRegion(picture, store, from, Rgb{});
  written = written.united(pasteImage(picture, store, moved, from.x0 + dx, from.y0 + dy));
  return written;
}

PixelRect scaleRegion(PictureBitmap& picture, TileStore& store, const PixelRect& rect, std::int64_t width,
                      std::int64_t height) {
  const QImage content = copyRegion(picture, rect);
  if (content.isNull() || width < 1 || height < 1) return {};
  const QImage scaled = content.scaled(static_cast<int>(width), static_cast<int>(height), Qt::IgnoreAspectRatio,
                                       Qt::SmoothTransformation);
  if (scaled.isNull()) return {};
  const PixelRect from = clipped(rect, picture);
  PixelRect written = fillRegion(picture, store, from, Rgb{});
  written = written.united(pasteImage(picture, store, scaled, from.x0, from.y0));
  return written;
}

PixelRect flipRegion(PictureBitmap& picture, TileStore& store, const PixelRect& wanted, FlipAxis axis) {
  const PixelRect rect = clipped(wanted, picture);
  if (rect.empty()) return {};
  store.capture(picture, rect);
  if (axis == FlipAxis::Time) {
    for (std::int64_t y = rect.y0, z = rect.y1 - 1; y < z; ++y, --z) {
      for (std::int64_t x = rect.x0; x < rect.x1; ++x) {
        const Rgb top = colourAt(picture, x, y);
        setColour(picture, x, y, colourAt(picture, x, z));
        setColour(picture, x, z, top);
      }
    }
  } else {
    for (std::int64_t y = rect.y0; y < rect.y1; ++y) {
      for (std::int64_t x = rect.x0, z = rect.x1 - 1; x < z; ++x, --z) {
        const Rgb left = colourAt(picture, x, y);
        setColour(picture, x, y, colourAt(picture, z, y));
        setColour(picture, z, y, left);
      }
    }
  }
  return rect;
}

PixelRect adjustRegion(PictureBitmap& picture, TileStore& store, const PixelRect& wanted, int brightness,
                       double contrast) {
  const PixelRect rect = clipped(wanted, picture);
  if (rect.empty()) return {};
  std::uint8_t table[256];
  for (int v = 0; v < 256; ++v) {
    const double out = (v - 127.5) * contrast + 127.5 + brightness;
    table[v] = static_cast<std::uint8_t>(std::clamp(std::lround(out), 0L, 255L));
  }
  store.capture(picture, rect);
  for (std::int64_t y = rect.y0; y < rect.y1; ++y) {
    for (std::int64_t x = rect.x0; x < rect.x1; ++x) {
      const Rgb c = colourAt(picture, x, y);
      setColour(picture, x, y, Rgb{table[c.r], table[c.g], table[c.b]});
    }
  }
  return rect;
}

}  // namespace vellomar
