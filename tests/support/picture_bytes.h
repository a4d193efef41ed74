// SPDX-License-Identifier: GPL-3.0-or-later
// Picture files made byte by byte for the loader's tests and its fuzzing:
// small valid ones, and "bombs" that declare far more pixels than they hold.
#pragma once

#include <QRgb>
#include <cstdint>
#include <string>
#include <vector>

namespace vellomar::test {

// A GIF with a 256-entry palette and one frame of `indices`, its LZW data
// written as plain 9-bit codes. The logical screen is width x height unless
// screen sides are given.
std::vector<std::uint8_t> gifBytes(int width, int height, const std::vector<QRgb>& palette,
                                   const std::vector<std::uint8_t>& indices, int screenWidth = -1,
                                   int screenHeight = -1);

// A BMP header with the given size and no pixel data after it.
std::vector<std::uint8_t> bmpHeader(std::int32_t w, std::int32_t h);

// A PNG chunk: length, type, data and CRC.
std::vector<std::uint8_t> pngChunk(const char* type, const std::vector<std::uint8_t>& data);

// A PNG that says it is w x h pixels of 8-bit grey, with far too little
// image data: a decoder learns its size from it and nothing more.
std::vector<std::uint8_t> pngHeader(std::uint32_t w, std::uint32_t h);

// A baseline JPEG header that declares w x h pixels of grey, with a few
// bytes of scan data.
std::vector<std::uint8_t> jpegHeader(std::uint16_t w, std::uint16_t h);

// An MNG animation's signature, header chunk (frame w x h) and end.
std::vector<std::uint8_t> mngBytes(std::uint32_t w, std::uint32_t h);

// A little-endian TIFF of one uncompressed strip (or one tile of
// tileSide x tileSide when tileSide > 0) holding `data`, which may be far
// shorter than the size declared: w x h pixels of `samples` 8-bit samples,
// RGB (3 or 4 samples) or grey (1 or 2), the last one an unassociated
// alpha when `alpha` is set.
std::vector<std::uint8_t> tiffBytes(std::uint32_t w, std::uint32_t h, int samples, bool alpha,
                                    const std::vector<std::uint8_t>& data, std::uint32_t tileSide = 0);

}  // namespace vellomar::test
