// The picture loader: a picture file becomes one brightness byte per pixel.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/settings.h"

namespace vellomar {

// Brightness bytes, rows stored bottom-up, `stride` = width rounded up to a
// multiple of 4. This is also what the window previews. `red` and `green`
// hold the picture's red and green bytes in the same layout, for stereo
// renders; they may be empty (a grey picture).
struct PictureBitmap {
  std::vector<std::uint8_t> pixels;
  std::uint32_t width = 0;
  std::uint32_t stride = 0;
  std::uint32_t height = 0;
  std::vector<std::uint8_t> red;
  std::vector<std::uint8_t> green;
};

// Decodes `path` (BMP, PNG, JPEG, GIF, TIFF) into brightness bytes and the
// red and green planes. Returns nullptr when the file cannot be loaded.
// Shows no message.
std::shared_ptr<const PictureBitmap> loadPicture(const std::string& path);

// The engine's view of a loaded picture: it points into `bitmap`, which must
// outlive every use of it.
PictureData pictureDataOf(const PictureBitmap& bitmap);

}  // namespace vellomar
