// SPDX-License-Identifier: GPL-3.0-or-later
// The grey preview of a loaded picture, for the window: the very bytes the
// render reads, shown top row first.
#pragma once

#include <QImage>

#include "files/picture.h"

namespace vellomar {

// An 8-bit grey image of `picture` (pixel value = brightness byte). A null
// image when the picture is empty or the image cannot be allocated.
QImage picturePreview(const PictureBitmap& picture);

}  // namespace vellomar
