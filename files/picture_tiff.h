// SPDX-License-Identifier: GPL-3.0-or-later
// TIFF pictures through libtiff: the declared shape of the first image,
// read before anything is decoded, and the decoder for 8-bit pictures with
// an alpha sample (Qt's reader premultiplies those and so loses the colour
// of every transparent pixel; other TIFFs go to Qt's reader).
#pragma once

#include <QImage>
#include <cstdint>
#include <string>

#include "files/picture_source.h"

typedef struct tiff TIFF;

namespace vellomar {

// What the first image of a TIFF declares.
struct TiffShape {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  std::uint16_t bitsPerSample = 0;
  std::uint16_t samplesPerPixel = 0;
  bool tiled = false;
  std::uint32_t tileWidth = 0;
  std::uint32_t tileHeight = 0;
  // Bytes libtiff needs for one decoded strip or tile.
  std::uint64_t pieceBytes = 0;
  // 8-bit RGB or grey with one alpha sample, stored contiguously: the
  // pictures decodeTiffWithAlpha reads.
  bool withAlpha = false;
};

// A TIFF opened on `source` with libtiff, its messages kept in `error`
// instead of printed, and no single allocation of libtiff's above
// `maxAllocation` bytes. Closes itself.
class TiffFile {
 public:
  TiffFile(PictureSource& source, std::uint64_t maxAllocation);
  ~TiffFile();
  TiffFile(const TiffFile&) = delete;
  TiffFile& operator=(const TiffFile&) = delete;
  // False when libtiff cannot read the file's first image directory.
  bool isOpen() const { return tiff_ != nullptr; }
  // The first image's declared shape; false when it declares no usable
  // size or layout.
  bool shape(TiffShape& shape) const;
  // Decodes a picture whose shape is withAlpha, by its stored bytes: a
  // null image when it cannot.
  QImage decodeWithAlpha(const TiffShape& shape);
  // libtiff's last error, if any.
  const std::string& error() const { return error_; }

  // Where libtiff reads.
  struct Stream {
    PictureSource* source;
    std::uint64_t position;
  };

 private:
  Stream stream_;
  std::string error_;
  TIFF* tiff_ = nullptr;
};

}  // namespace vellomar
