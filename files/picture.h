// The picture loader: a picture file becomes one brightness byte per pixel.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace vellomar {

// Brightness bytes, rows stored bottom-up, `stride` = width rounded up to a
// multiple of 4. This is also what the window previews.
struct PictureBitmap {
  std::vector<std::uint8_t> pixels;
  std::uint32_t width = 0;
  std::uint32_t stride = 0;
  std::uint32_t height = 0;
};

// Decodes `path` (BMP, PNG, JPEG, GIF, TIFF). On success points pictureData
// at the returned bitmap, which the caller keeps alive for as long as
// pictureData refers to it. On failure returns nullptr and leaves
// pictureData as it was. Shows no message.
std::shared_ptr<const PictureBitmap> loadPicture(const std::string& path);

}  // namespace vellomar
