// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/document/picture_planes.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <new>

namespace vellomar {

namespace {

// The loader's weights times every byte value, as doubles: brightnessOf
// forms byte * weight in double precision and sums left to right.
struct BrightnessTables {
  std::array<double, 256> red{}, green{}, blue{};
  BrightnessTables() {
    for (int v = 0; v < 256; ++v) {
      red[v] = static_cast<double>(v) * static_cast<double>(0.3f);
      green[v] = static_cast<double>(v) * static_cast<double>(0.59f);
      blue[v] = static_cast<double>(v) * static_cast<double>(0.11f);
    }
  }
};

const BrightnessTables& tables() {
  static const BrightnessTables t;
  return t;
}

std::uint32_t strideOf(std::uint32_t width) { return (width + 3u) & ~3u; }

}  // namespace

PixelRect PixelRect::intersected(const PixelRect& o) const {
  PixelRect r{std::max(x0, o.x0), std::max(y0, o.y0), std::min(x1, o.x1), std::min(y1, o.y1)};
  if (r.empty()) return {};
  return r;
}

PixelRect PixelRect::united(const PixelRect& o) const {
  if (empty()) return o;
  if (o.empty()) return *this;
  return {std::min(x0, o.x0), std::min(y0, o.y0), std::max(x1, o.x1), std::max(y1, o.y1)};
}

std::uint8_t brightnessFast(std::uint8_t r, std::uint8_t g, std::uint8_t b) {
  const BrightnessTables& t = tables();
  return static_cast<std::uint8_t>(t.red[r] + t.green[g] + t.blue[b] + 0.5);
}

bool hasColourPlanes(const PictureBitmap& p) {
  const std::size_t bytes = p.pixels.size();
  return p.red.size() == bytes && p.green.size() == bytes && p.blue.size() == bytes;
}

std::uint64_t pictureBytes(std::uint64_t width, std::uint64_t height) { return 4 * strideOf(static_cast<std::uint32_t>(width)) * height; }

std::shared_ptr<PictureBitmap> blankPicture(std::uint32_t width, std::uint32_t height) {
  try {
    auto p = std::make_shared<PictureBitmap>();
    p->width = width;
    p->height = height;
    p->stride = strideOf(width);
    const std::size_t bytes = static_cast<std::size_t>(p->stride) * height;
    p->pixels.assign(bytes, 0);
    p->red.assign(bytes, 0);
    p->green.assign(bytes, 0);
    p->blue.assign(bytes, 0);
    return p;
  } catch (const std::bad_alloc&) {
    return nullptr;
  } catch (const std::length_error&) {
    return nullptr;
  }
}

std::shared_ptr<PictureBitmap> editableCopy(const PictureBitmap& source) {
  std::shared_ptr<PictureBitmap> p = blankPicture(source.width, source.height);
  if (!p || source.pixels.size() != p->pixels.size()) return nullptr;
  const std::size_t bytes = p->pixels.size();
  const bool colour = source.red.size() == bytes && source.green.size() == bytes;
  if (colour) {
    p->red = source.red;
    p->green = source.green;
    if (source.blue.size() == bytes) p->blue = source.blue;
  } else {
    p->red = source.pixels;
    p->green = source.pixels;
    p->blue = source.pixels;
  }
  for (std::uint32_t y = 0; y < p->height; ++y) {
    const std::size_t row = static_cast<std::size_t>(y) * p->stride;
    for (std::uint32_t x = 0; x < p->width; ++x) {
      const std::size_t i = row + x;
      p->pixels[i] = brightnessFast(p->red[i], p->green[i], p->blue[i]);
    }
  }
  return p;
}

void copyRect(const PictureBitmap& from, PictureBitmap& to, const PixelRect& wanted) {
  const PixelRect r = wanted.intersected(boundsOf(from));
  if (r.empty()) return;
  const auto width = static_cast<std::size_t>(r.width());
  const std::vector<std::uint8_t>* source[4] = {&from.pixels, &from.red, &from.green, &from.blue};
  std::vector<std::uint8_t>* target[4] = {&to.pixels, &to.red, &to.green, &to.blue};
  for (std::size_t c = 0; c < 4; ++c) {
    // Whole stored rows in one copy when the rect spans the picture.
    if (r.x0 == 0 && r.x1 == from.width) {
      const std::size_t first = offsetOf(from, 0, r.y1 - 1);
      std::memcpy(target[c]->data() + first, source[c]->data() + first, static_cast<std::size_t>(r.height()) * from.stride);
      continue;
    }
    for (std::int64_t y = r.y0; y < r.y1; ++y) {
      const std::size_t at = offsetOf(from, r.x0, y);
      std::memcpy(target[c]->data() + at, source[c]->data() + at, width);
    }
  }
}

}  // namespace vellomar
