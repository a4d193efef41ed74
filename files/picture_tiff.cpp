// SPDX-License-Identifier: GPL-3.0-or-later
#include "files/picture_tiff.h"

#include <tiffio.h>

#include <algorithm>
#include <limits>
#include <vector>

#include "files/decoder_messages.h"

namespace vellomar {
namespace {

// libtiff's file procedures over a picture source, read-only.
using Stream = TiffFile::Stream;

tmsize_t readProc(thandle_t handle, void* buffer, tmsize_t size) {
  auto* s = static_cast<Stream*>(handle);
  if (size <= 0) return 0;
  const std::size_t got = s->source->readAt(s->position, buffer, static_cast<std::size_t>(size));
  s->position += got;
  return static_cast<tmsize_t>(got);
}

tmsize_t writeProc(thandle_t, void*, tmsize_t) { return -1; }

toff_t seekProc(thandle_t handle, toff_t offset, int whence) {
  auto* s = static_cast<Stream*>(handle);
  std::uint64_t base = 0;
  if (whence == SEEK_CUR) base = s->position;
  if (whence == SEEK_END) base = s->source->size();
  if (offset > std::numeric_limits<std::uint64_t>::max() - base) return static_cast<toff_t>(-1);
  s->position = base + offset;
  return s->position;
}

int closeProc(thandle_t) { return 0; }
toff_t sizeProc(thandle_t handle) { return static_cast<Stream*>(handle)->source->size(); }
int mapProc(thandle_t, void**, toff_t*) { return 0; }
void unmapProc(thandle_t, void*, toff_t) {}

}  // namespace

TiffFile::TiffFile(PictureSource& source, std::uint64_t maxAllocation) : stream_{&source, 0} {
  TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
  if (!options) return;
  keepTiffMessages(options, &error_);
  TIFFOpenOptionsSetMaxSingleMemAlloc(options,
                                      static_cast<tmsize_t>(std::min<std::uint64_t>(
                                          maxAllocation, static_cast<std::uint64_t>(
                                                             std::numeric_limits<tmsize_t>::max()))));
  // "m": no memory mapping; the procedures read the source.
  tiff_ = TIFFClientOpenExt("picture", "rm", reinterpret_cast<thandle_t>(&stream_), readProc, writeProc, seekProc,
                            closeProc, sizeProc, mapProc, unmapProc, options);
  TIFFOpenOptionsFree(options);
}

TiffFile::~TiffFile() {
  if (tiff_) TIFFClose(tiff_);
}

bool TiffFile::shape(TiffShape& shape) const {
  if (!tiff_) return false;
  std::uint16_t planar = PLANARCONFIG_CONTIG, photometric = 0, extraCount = 0;
  std::uint16_t* extra = nullptr;
  if (TIFFGetField(tiff_, TIFFTAG_IMAGEWIDTH, &shape.width) != 1 ||
      TIFFGetField(tiff_, TIFFTAG_IMAGELENGTH, &shape.height) != 1 ||
      TIFFGetFieldDefaulted(tiff_, TIFFTAG_BITSPERSAMPLE, &shape.bitsPerSample) != 1 ||
      TIFFGetFieldDefaulted(tiff_, TIFFTAG_SAMPLESPERPIXEL, &shape.samplesPerPixel) != 1 ||
      TIFFGetFieldDefaulted(tiff_, TIFFTAG_PLANARCONFIG, &planar) != 1) {
    return false;
  }
  const bool hasPhotometric = TIFFGetField(tiff_, TIFFTAG_PHOTOMETRIC, &photometric) == 1;
  const bool oneExtra = TIFFGetField(tiff_, TIFFTAG_EXTRASAMPLES, &extraCount, &extra) == 1 && extraCount == 1;
  shape.tiled = TIFFIsTiled(tiff_) != 0;
  if (shape.tiled) {
    if (TIFFGetField(tiff_, TIFFTAG_TILEWIDTH, &shape.tileWidth) != 1 ||
        TIFFGetField(tiff_, TIFFTAG_TILELENGTH, &shape.tileHeight) != 1 || shape.tileWidth == 0 ||
        shape.tileHeight == 0) {
      return false;
    }
    shape.pieceBytes = static_cast<std::uint64_t>(TIFFTileSize64(tiff_));
  } else {
    shape.pieceBytes = static_cast<std::uint64_t>(TIFFScanlineSize64(tiff_));
  }
  shape.withAlpha = oneExtra && hasPhotometric && shape.bitsPerSample == 8 && planar == PLANARCONFIG_CONTIG &&
                    ((photometric == PHOTOMETRIC_RGB && shape.samplesPerPixel == 4) ||
                     (photometric == PHOTOMETRIC_MINISBLACK && shape.samplesPerPixel == 2));
  return shape.width > 0 && shape.height > 0 && shape.pieceBytes > 0;
}

QImage TiffFile::decodeWithAlpha(const TiffShape& shape) {
  const std::uint32_t width = shape.width, height = shape.height;
  const std::uint32_t samples = shape.samplesPerPixel;
  const std::uint32_t pieceWidth = shape.tiled ? shape.tileWidth : width;
  const std::uint32_t pieceHeight = shape.tiled ? shape.tileHeight : 1;
  // The piece libtiff decodes must hold what is copied out of it.
  if (!tiff_ || !shape.withAlpha ||
      shape.pieceBytes < static_cast<std::uint64_t>(pieceWidth) * pieceHeight * samples) {
    return QImage();
  }
  QImage image(static_cast<int>(width), static_cast<int>(height), QImage::Format_ARGB32);
  if (image.isNull()) return QImage();
  std::vector<std::uint8_t> buffer(static_cast<std::size_t>(shape.pieceBytes));

  // Copies the pixels of one decoded piece into the image at x0, y0.
  auto place = [&](std::uint32_t x0, std::uint32_t y0) {
    for (std::uint32_t y = 0; y < pieceHeight && y0 + y < height; ++y) {
      auto* line = reinterpret_cast<QRgb*>(image.scanLine(static_cast<int>(y0 + y)));
      const std::uint8_t* in = buffer.data() + static_cast<std::size_t>(y) * pieceWidth * samples;
      for (std::uint32_t x = 0; x < pieceWidth && x0 + x < width; ++x) {
        const std::uint8_t* p = in + static_cast<std::size_t>(x) * samples;
        line[x0 + x] = samples == 4 ? qRgba(p[0], p[1], p[2], p[3]) : qRgba(p[0], p[0], p[0], p[1]);
      }
    }
  };
  bool ok = true;
  if (shape.tiled) {
    for (std::uint64_t y0 = 0; ok && y0 < height; y0 += pieceHeight) {
      for (std::uint64_t x0 = 0; ok && x0 < width; x0 += pieceWidth) {
        const auto x = static_cast<std::uint32_t>(x0), y = static_cast<std::uint32_t>(y0);
        ok = TIFFReadTile(tiff_, buffer.data(), x, y, 0, 0) >= 0;
        if (ok) place(x, y);
      }
    }
  } else {
    for (std::uint32_t y = 0; ok && y < height; ++y) {
      ok = TIFFReadScanline(tiff_, buffer.data(), y, 0) == 1;
      if (ok) place(0, y);
    }
  }
  return ok ? image : QImage();
}

}  // namespace vellomar
