// SPDX-License-Identifier: GPL-3.0-or-later
// The picture loader: a picture file becomes one brightness byte per pixel.
#pragma once

#include <cstddef>
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

// Decodes `path` into brightness bytes and the red and green planes, every
// pixel by its colour bytes whatever its transparency. The name is taken
// as bytes, in any encoding; a regular file is read where it lies, a pipe
// or a device (such as /dev/stdin) to its end. Only BMP, PNG, JPEG, GIF
// and TIFF pictures are read, told by their first bytes whatever the
// name says; every picture's declared size is checked against what a
// render can hold before anything is decoded, and no decoder allocates
// beyond that. Returns nullptr when the picture cannot be loaded;
// `reason`, when given, then says why in a sentence (not a picture of a
// kind read here, too big to render, damaged) or is left empty (no such
// file, or one that cannot be read). Shows and prints nothing.
std::shared_ptr<const PictureBitmap> loadPicture(const std::string& path, std::string* reason = nullptr);

// The same for a picture held in memory.
std::shared_ptr<const PictureBitmap> loadPictureBytes(const std::uint8_t* data, std::size_t size,
                                                      std::string* reason = nullptr);

// The same for a picture read from `fd` to its end (standard input, a
// pipe), read into memory up to the most bytes a picture a render can hold
// may take. `fd` stays open.
std::shared_ptr<const PictureBitmap> loadPictureStream(int fd, std::string* reason = nullptr);

// The brightness of a colour: fixed float weights 0.3, 0.59 and 0.11, the
// sum formed in double, rounded half up. (100, 150, 200) gives 140.
std::uint8_t brightnessOf(std::uint8_t red, std::uint8_t green, std::uint8_t blue);

// What the user is told when a picture cannot be loaded: "Failed to load
// picture '%s'", followed by the reason on a line of its own when there is
// one.
Refusal pictureRefusal(const std::string& path, const std::string& reason);

// The most pixels a picture may have for loadPicture to take it on this
// computer: what a render of it can hold in the memory this process may
// use (the computer's memory, or less under a limit such as ulimit -v).
std::uint64_t maxPicturePixels();

// Lowers maxPicturePixels() to at most `most` pixels (0: no lower limit),
// for a process that must keep within less memory than it may use (a
// fuzzer).
void limitPicturePixels(std::uint64_t most);

// The engine's view of a loaded picture: it points into `bitmap`, which must
// outlive every use of it.
PictureData pictureDataOf(const PictureBitmap& bitmap);

}  // namespace vellomar
