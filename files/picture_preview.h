// SPDX-License-Identifier: GPL-3.0-or-later
// The preview of a loaded picture, for the window: the very bytes the
// render reads, shown top row first.
#pragma once

#include <QImage>
#include <cstdint>

#include "files/picture.h"

namespace vellomar {

// How a picture is shown: its brightness bytes in grey (a mono render reads
// them), or its red and green as a stereo render's left and right channels
// hear them, with no blue (a picture without colour planes is heard alike
// on both: its brightness as red and as green).
enum class PreviewColours { Grey, Channels };

// An 8-bit grey image of `picture` (pixel value = brightness byte), or with
// Channels an RGB32 image of its red and green. A null image when the
// picture is empty or the image cannot be allocated.
QImage picturePreview(const PictureBitmap& picture, PreviewColours colours = PreviewColours::Grey);

// Draws picture rows y0 ... y1 - 1 (0 = top) into `image`, which
// picturePreview made of a picture of the same size with the same colours.
void drawPreviewRows(const PictureBitmap& picture, PreviewColours colours, std::uint32_t y0, std::uint32_t y1,
                     QImage& image);

}  // namespace vellomar
