// SPDX-License-Identifier: GPL-3.0-or-later
#include "files/picture_preview.h"

#include <algorithm>
#include <cstring>

namespace vellomar {

namespace {

bool hasChannelPlanes(const PictureBitmap& picture) {
  return picture.red.size() == picture.pixels.size() && picture.green.size() == picture.pixels.size();
}

}  // namespace

QImage picturePreview(const PictureBitmap& picture, PreviewColours colours) {
  const std::uint32_t w = picture.width;
  const std::uint32_t h = picture.height;
  if (w == 0 || h == 0 || w > INT32_MAX || h > INT32_MAX) return QImage();
  if (picture.pixels.size() < static_cast<std::size_t>(picture.stride) * h || picture.stride < w) return QImage();
  const QImage::Format format = colours == PreviewColours::Grey ? QImage::Format_Grayscale8 : QImage::Format_RGB32;
  QImage image(static_cast<int>(w), static_cast<int>(h), format);
  if (image.isNull()) return QImage();
  drawPreviewRows(picture, colours, 0, h, image);
  return image;
}

void drawPreviewRows(const PictureBitmap& picture, PreviewColours colours, std::uint32_t y0, std::uint32_t y1,
                     QImage& image) {
  const std::uint32_t w = picture.width;
  const std::uint32_t h = picture.height;
  if (image.width() != static_cast<int>(w) || image.height() != static_cast<int>(h)) return;
  y1 = std::min(y1, h);
  const bool planes = hasChannelPlanes(picture);
  for (std::uint32_t y = y0; y < y1; ++y) {
    const std::size_t stored = static_cast<std::size_t>(h - 1 - y) * picture.stride;
    if (colours == PreviewColours::Grey) {
      std::memcpy(image.scanLine(static_cast<int>(y)), picture.pixels.data() + stored, w);
      continue;
    }
    const std::uint8_t* red = (planes ? picture.red.data() : picture.pixels.data()) + stored;
    const std::uint8_t* green = (planes ? picture.green.data() : picture.pixels.data()) + stored;
    auto* line = reinterpret_cast<QRgb*>(image.scanLine(static_cast<int>(y)));
    for (std::uint32_t x = 0; x < w; ++x) line[x] = qRgb(red[x], green[x], 0);
  }
}

}  // namespace vellomar
