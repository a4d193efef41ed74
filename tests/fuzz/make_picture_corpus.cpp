// SPDX-License-Identifier: GPL-3.0-or-later
// Writes the picture loader's seed corpus into the folder it is given: a
// small valid file of every kind and layout the loader reads (BMP, PNG,
// JPEG, GIF, TIFF with and without alpha, in strips and tiles, compressed
// and not, in both byte orders), and the "bombs" that declare more pixels
// than they hold. The corpus is kept in the repository; build this
// (target make_picture_corpus) and run it again after changing it here:
//   build/tests/fuzz/make_picture_corpus tests/fuzz/picture_corpus

#include <tiffio.h>

#include <QBuffer>
#include <QImage>
#include <QImageWriter>
#include <cstdio>
#include <string>
#include <vector>

#include "support/picture_bytes.h"
#include "support/test_support.h"

namespace {

using vellomar::test::writeFile;

std::string gFolder;

void put(const std::string& name, const std::vector<std::uint8_t>& bytes) {
  writeFile(gFolder + "/" + name, bytes);
  std::printf("%-28s %6zu bytes\n", name.c_str(), bytes.size());
}

// A small picture with some of everything: a gradient, a flat patch, an
// edge, and (in the alpha channel) transparent and half-transparent
// pixels.
QImage card(int w, int h, bool alpha) {
  QImage image(w, h, alpha ? QImage::Format_ARGB32 : QImage::Format_RGB32);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      const int a = !alpha ? 255 : x < w / 3 ? 0 : x < 2 * w / 3 ? 128 : 255;
      image.setPixel(x, y, qRgba((x * 255) / w, (y * 255) / h, x > w / 2 ? 200 : 30, a));
    }
  }
  return image;
}

void putQt(const std::string& name, const QImage& image, const char* format, int quality = -1,
           bool progressive = false) {
  QBuffer buffer;
  buffer.open(QIODevice::WriteOnly);
  QImageWriter writer(&buffer, format);
  if (quality >= 0) writer.setQuality(quality);
  writer.setProgressiveScanWrite(progressive);
  if (!writer.write(image)) {
    std::fprintf(stderr, "cannot write %s\n", name.c_str());
    return;
  }
  const QByteArray& bytes = buffer.data();
  put(name, std::vector<std::uint8_t>(bytes.begin(), bytes.end()));
}

// A TIFF written by libtiff: `samples` 8-bit samples (the last an alpha
// when `alpha`), in strips or 16 x 16 tiles, with `compression`, in
// `byteOrder` ("l" or "b").
void putTiff(const std::string& name, int w, int h, int samples, bool alpha, bool tiled, int compression,
             const char* byteOrder, int bits = 8) {
  const std::string path = gFolder + "/" + name;
  TIFF* tiff = TIFFOpen(path.c_str(), (std::string("w") + byteOrder).c_str());
  if (!tiff) return;
  TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, w);
  TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, h);
  TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, bits);
  TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, samples);
  TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, samples >= 3 ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK);
  TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
  TIFFSetField(tiff, TIFFTAG_COMPRESSION, compression);
  if (alpha) {
    std::uint16_t extra[] = {EXTRASAMPLE_UNASSALPHA};
    TIFFSetField(tiff, TIFFTAG_EXTRASAMPLES, 1, extra);
  }
  const std::size_t sampleBytes = static_cast<std::size_t>(bits / 8);
  const std::size_t rowBytes = static_cast<std::size_t>(w) * samples * sampleBytes;
  std::vector<std::uint8_t> row(rowBytes);
  for (std::size_t i = 0; i < rowBytes; ++i) row[i] = static_cast<std::uint8_t>(i * 37);
  if (tiled) {
    TIFFSetField(tiff, TIFFTAG_TILEWIDTH, 16);
    TIFFSetField(tiff, TIFFTAG_TILELENGTH, 16);
    std::vector<std::uint8_t> tile(16 * 16 * static_cast<std::size_t>(samples) * sampleBytes);
    for (std::size_t i = 0; i < tile.size(); ++i) tile[i] = static_cast<std::uint8_t>(i * 13);
    for (int y = 0; y < h; y += 16) {
      for (int x = 0; x < w; x += 16) TIFFWriteTile(tiff, tile.data(), x, y, 0, 0);
    }
  } else {
    TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, 4);
    for (int y = 0; y < h; ++y) TIFFWriteScanline(tiff, row.data(), y, 0);
  }
  TIFFClose(tiff);
  const auto bytes = vellomar::test::readFile(path);
  std::printf("%-28s %6zu bytes\n", name.c_str(), bytes.size());
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s FOLDER\n", argv[0]);
    return 2;
  }
  gFolder = argv[1];
  const QImage colour = card(20, 12, false);
  const QImage alpha = card(20, 12, true);

  putQt("rgb.bmp", colour, "BMP");
  putQt("indexed.bmp", colour.convertToFormat(QImage::Format_Indexed8), "BMP");
  putQt("mono.bmp", colour.convertToFormat(QImage::Format_Mono), "BMP");
  putQt("rgb.png", colour, "PNG");
  putQt("rgba.png", alpha, "PNG");
  putQt("grey.png", colour.convertToFormat(QImage::Format_Grayscale8), "PNG");
  putQt("grey16.png", colour.convertToFormat(QImage::Format_Grayscale16), "PNG");
  putQt("rgba64.png", alpha.convertToFormat(QImage::Format_RGBA64), "PNG");
  putQt("palette.png", alpha.convertToFormat(QImage::Format_Indexed8), "PNG");
  putQt("mono.png", colour.convertToFormat(QImage::Format_Mono), "PNG");
  putQt("baseline.jpg", colour, "JPEG", 80);
  putQt("progressive.jpg", colour, "JPEG", 80, true);
  putQt("grey.jpg", colour.convertToFormat(QImage::Format_Grayscale8), "JPEG", 80);
  putQt("qt-rgb.tif", colour, "TIFF");
  put("palette.gif", vellomar::test::gifBytes(6, 4, {qRgb(255, 0, 0), qRgb(0, 255, 0), qRgb(0, 0, 255)},
                                              {0, 1, 2, 0, 1, 2, 2, 1, 0, 2, 1, 0, 0, 0, 1, 1, 2, 2, 0, 1, 2, 0, 1, 2}));
  put("frame-off-screen.gif", vellomar::test::gifBytes(8, 8, {qRgb(9, 9, 9)}, std::vector<std::uint8_t>(64, 0), 4, 4));

  putTiff("rgba-strips.tif", 20, 12, 4, true, false, COMPRESSION_NONE, "l");
  putTiff("rgba-tiles.tif", 20, 18, 4, true, true, COMPRESSION_NONE, "l");
  putTiff("grey-alpha.tif", 20, 12, 2, true, false, COMPRESSION_NONE, "l");
  putTiff("grey-alpha-tiles-be.tif", 20, 18, 2, true, true, COMPRESSION_NONE, "b");
  putTiff("rgb-lzw.tif", 20, 12, 3, false, false, COMPRESSION_LZW, "l");
  putTiff("rgb-deflate-be.tif", 20, 12, 3, false, false, COMPRESSION_ADOBE_DEFLATE, "b");
  putTiff("grey-packbits.tif", 20, 12, 1, false, false, COMPRESSION_PACKBITS, "l");
  putTiff("rgb16.tif", 8, 6, 3, false, false, COMPRESSION_NONE, "l", 16);
  put("hand-rgba.tif", vellomar::test::tiffBytes(2, 2, 4, true, std::vector<std::uint8_t>(16, 90)));
  put("hand-rgba-tile.tif", vellomar::test::tiffBytes(3, 2, 4, true, std::vector<std::uint8_t>(16 * 16 * 4, 7), 16));

  // Bombs: a few bytes that declare 40000 x 40000 pixels.
  put("bomb-rgba.tif", vellomar::test::tiffBytes(40000, 40000, 4, true, {1, 2, 3, 4}));
  put("bomb-grey-alpha.tif", vellomar::test::tiffBytes(40000, 40000, 2, true, {1, 2}));
  put("bomb.png", vellomar::test::pngHeader(40000, 40000));
  put("bomb.gif", vellomar::test::gifBytes(40000, 40000, {}, {0}));
  put("bomb.bmp", vellomar::test::bmpHeader(40000, -40000));
  put("bomb.jpg", vellomar::test::jpegHeader(40000, 40000));
  put("bomb.mng", vellomar::test::mngBytes(40000, 40000));
  return 0;
}
