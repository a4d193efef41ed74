// SPDX-License-Identifier: GPL-3.0-or-later
// The picture loader: a picture file becomes one brightness byte per pixel.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/settings.h"
#include "files/messages.h"

namespace vellomar {

// Brightness bytes, rows stored bottom-up, `stride` = width rounded up to a
// multiple of 4. This is also what the window previews. `red` and `green`
// hold the picture's red and green bytes in the same layout, for stereo
// renders; they may be empty (a grey picture). `blue` completes the colour
// where it is known (a loaded file, an edited picture), so that the picture
// can be written again as the colours it was made of; empty otherwise.
struct PictureBitmap {
  std::vector<std::uint8_t> pixels;
  std::uint32_t width = 0;
  std::uint32_t stride = 0;
  std::uint32_t height = 0;
  std::vector<std::uint8_t> red;
  std::vector<std::uint8_t> green;
  std::vector<std::uint8_t> blue;
};

// Decodes `path` (BMP, PNG, JPEG, GIF, TIFF; the name taken as bytes, in
// any encoding) into brightness bytes and the red and green planes, every
// pixel by its colour bytes whatever its transparency. Returns nullptr
// when the file cannot be loaded; `reason`, when given, then says why in a
// sentence (a picture too big to render) or is left empty (no picture).
// Shows and prints nothing: the decoders' own complaints are kept off
// standard error.
std::shared_ptr<const PictureBitmap> loadPicture(const std::string& path, std::string* reason = nullptr);

// The brightness of a colour: fixed float weights 0.3, 0.59 and 0.11, the
// sum formed in double, rounded half up. (100, 150, 200) gives 140.
std::uint8_t brightnessOf(std::uint8_t red, std::uint8_t green, std::uint8_t blue);

// What the user is told when a picture cannot be loaded: "Failed to load
// picture '%s'", followed by the reason on a line of its own when there is
// one.
Refusal pictureRefusal(const std::string& path, const std::string& reason);

// The most pixels a picture may have for loadPicture to take it on this
// computer: what a render of it can hold in memory.
std::uint64_t maxPicturePixels();

// The engine's view of a loaded picture: it points into `bitmap`, which must
// outlive every use of it.
PictureData pictureDataOf(const PictureBitmap& bitmap);

}  // namespace vellomar
