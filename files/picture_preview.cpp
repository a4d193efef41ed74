// SPDX-License-Identifier: GPL-3.0-or-later
#include "files/picture_preview.h"

#include <cstring>

namespace vellomar {

QImage picturePreview(const PictureBitmap& picture) {
  const std::uint32_t w = picture.width;
  const std::uint32_t h = picture.height;
  if (w == 0 || h == 0 || w > INT32_MAX || h > INT32_MAX) return QImage();
  if (picture.pixels.size() < static_cast<std::size_t>(picture.stride) * h || picture.stride < w) return QImage();
  QImage image(static_cast<int>(w), static_cast<int>(h), QImage::Format_Grayscale8);
  if (image.isNull()) return QImage();
  for (std::uint32_t y = 0; y < h; ++y) {
    const std::uint8_t* row = picture.pixels.data() + static_cast<std::size_t>(h - 1 - y) * picture.stride;
    std::memcpy(image.scanLine(static_cast<int>(y)), row, w);
  }
  return image;
}

}  // namespace vellomar
