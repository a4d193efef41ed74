// SPDX-License-Identifier: GPL-3.0-or-later
// Writing a picture: brightness bytes as an 8-bit grey PNG file that the
// picture loader reads back byte for byte, and the sizes it can read back.
#pragma once

#include <cstdint>
#include <string>

#include "files/messages.h"
#include "files/picture.h"

namespace vellomar {

// The longest side of a PNG file that the loader's decoder reads.
inline constexpr std::uint32_t kMaxPngSide = 1000000;

// The most pixels of a picture written here that the loader takes again:
// maxPicturePixels().
std::uint64_t maxLoadablePixels();

// Whether a picture of width x height can be written and loaded again:
// each side 1 ... kMaxPngSide (and within kMaxPictureSide) and at most
// maxLoadablePixels() pixels.
bool pictureSizeLoadable(std::uint64_t width, std::uint64_t height);

// Writes `picture` as an 8-bit grey PNG file at `path` (a colour one of its
// colour planes when its brightness is made of them: red, green and blue
// as loaded or edited, or red and green alone as an analysis of a stereo
// wave makes them), beside it first and
// renamed into place when complete (see OutputFile): an earlier file of
// that name stays as it was unless the new one is written in full. False
// with the refusal otherwise. A `textKey` adds a text chunk of that key
// holding `text`.
bool savePicturePng(const PictureBitmap& picture, const std::string& path, Refusal& refusal,
                    const std::string& textKey = {}, const std::string& text = {});

}  // namespace vellomar
