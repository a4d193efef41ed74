// SPDX-License-Identifier: GPL-3.0-or-later
#include "files/picture_png.h"

#include <png.h>

#include <QByteArray>
#include <QStringList>

#include <cerrno>
#include <csetjmp>
#include <cstring>
#include <vector>

namespace vellomar {
namespace {

// The chunks of any length that say nothing of the pixels: texts, colour
// profiles, suggested palettes, Exif. libpng would take each whole into
// memory, however long its (possibly damaged) length says it is; they are
// skipped unread instead.
constexpr png_byte kSkippedChunks[] = {'t', 'E', 'X', 't', 0, 'z', 'T', 'X', 't', 0, 'i', 'T', 'X', 't', 0,
                                       'i', 'C', 'C', 'P', 0, 's', 'P', 'L', 'T', 0, 'e', 'X', 'I', 'f', 0};

// What the handlers below share with the code that calls libpng. libpng
// leaves a failed call by longjmp, so the functions that call it hold no
// object with a destructor of their own: everything lives here or in
// their callers.
struct PngIo {
  PictureSource* source = nullptr;
  std::uint64_t position = 0;
  std::FILE* stream = nullptr;
  int writeErrno = 0;
  std::string error;
};

void onError(png_structp png, png_const_charp message) {
  static_cast<PngIo*>(png_get_error_ptr(png))->error = message ? message : "";
  png_longjmp(png, 1);
}

void onWarning(png_structp, png_const_charp) {}

void readData(png_structp png, png_bytep data, std::size_t length) {
  auto* io = static_cast<PngIo*>(png_get_io_ptr(png));
  const std::size_t got = io->source->readAt(io->position, data, length);
  io->position += got;
  if (got < length) png_error(png, "Read Error");
}

void writeData(png_structp png, png_bytep data, std::size_t length) {
  auto* io = static_cast<PngIo*>(png_get_io_ptr(png));
  errno = 0;
  if (std::fwrite(data, 1, length, io->stream) != length) {
    io->writeErrno = errno;
    png_error(png, "Write Error");
  }
}

void flushData(png_structp png) {
  auto* io = static_cast<PngIo*>(png_get_io_ptr(png));
  errno = 0;
  if (std::fflush(io->stream) != 0) {
    io->writeErrno = errno;
    png_error(png, "Write Error");
  }
}

struct PngShape {
  png_uint_32 width = 0;
  png_uint_32 height = 0;
};

// Reads the header and sets the transformations that give 8-bit BGRA
// (QRgb in memory) rows. False when libpng fails.
bool readHeader(png_structp png, png_infop info, PngShape& shape) {
  if (setjmp(png_jmpbuf(png))) return false;
  png_read_info(png, info);
  int depth = 0, colour = 0;
  png_get_IHDR(png, info, &shape.width, &shape.height, &depth, &colour, nullptr, nullptr, nullptr);
  if (colour == PNG_COLOR_TYPE_PALETTE) png_set_palette_to_rgb(png);
  if (colour == PNG_COLOR_TYPE_GRAY && depth < 8) png_set_expand_gray_1_2_4_to_8(png);
  if (png_get_valid(png, info, PNG_INFO_tRNS)) png_set_tRNS_to_alpha(png);
  if (depth == 16) png_set_scale_16(png);
  if (colour == PNG_COLOR_TYPE_GRAY || colour == PNG_COLOR_TYPE_GRAY_ALPHA) png_set_gray_to_rgb(png);
#if Q_BYTE_ORDER == Q_LITTLE_ENDIAN
  png_set_bgr(png);
  png_set_filler(png, 0xFF, PNG_FILLER_AFTER);
#else
  png_set_swap_alpha(png);
  png_set_filler(png, 0xFF, PNG_FILLER_BEFORE);
#endif
  png_set_interlace_handling(png);
  png_read_update_info(png, info);
  return png_get_rowbytes(png, info) == static_cast<std::size_t>(shape.width) * 4;
}

bool readRows(png_structp png, png_bytepp rows) {
  if (setjmp(png_jmpbuf(png))) return false;
  png_read_image(png, rows);
  return true;
}

bool writeRows(png_structp png, png_infop info, const QImage& image, png_bytepp rows, png_textp texts,
               int textCount) {
  if (setjmp(png_jmpbuf(png))) return false;
  const bool grey = image.format() == QImage::Format_Grayscale8;
  png_set_IHDR(png, info, static_cast<png_uint_32>(image.width()), static_cast<png_uint_32>(image.height()), 8,
               grey ? PNG_COLOR_TYPE_GRAY : PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  if (textCount > 0) png_set_text(png, info, texts, textCount);
  png_write_info(png, info);
  if (!grey) {
    // Rows of QRgb: the fourth byte of each pixel is dropped.
#if Q_BYTE_ORDER == Q_LITTLE_ENDIAN
    png_set_bgr(png);
    png_set_filler(png, 0, PNG_FILLER_AFTER);
#else
    png_set_filler(png, 0, PNG_FILLER_BEFORE);
#endif
  }
  png_write_image(png, rows);
  png_write_end(png, info);
  return true;
}

}  // namespace

QImage decodePng(PictureSource& source, const std::function<bool(std::uint64_t, std::uint64_t)>& allowed,
                 bool& refused, std::string& error) {
  refused = false;
  PngIo io;
  io.source = &source;
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &io, onError, onWarning);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  QImage image;
  PngShape shape;
  if (info) {
    png_set_read_fn(png, &io, readData);
    png_set_keep_unknown_chunks(png, PNG_HANDLE_CHUNK_NEVER, kSkippedChunks, 6);
    if (readHeader(png, info, shape)) {
      if (!allowed(shape.width, shape.height)) {
        refused = true;
      } else {
        image = QImage(static_cast<int>(shape.width), static_cast<int>(shape.height), QImage::Format_ARGB32);
        std::vector<png_bytep> rows(image.isNull() ? 0 : shape.height);
        for (std::size_t y = 0; y < rows.size(); ++y) rows[y] = image.scanLine(static_cast<int>(y));
        if (image.isNull()) {
          io.error = "out of memory";
        } else if (!readRows(png, rows.data())) {
          image = QImage();
        }
      }
    }
  } else {
    io.error = "out of memory";
  }
  png_destroy_read_struct(png ? &png : nullptr, info ? &info : nullptr, nullptr);
  error = io.error;
  return image;
}

bool writePng(std::FILE* stream, const QImage& image, std::string& error) {
  PngIo io;
  io.stream = stream;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &io, onError, onWarning);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  bool ok = false;
  if (info && !image.isNull()) {
    png_set_write_fn(png, &io, writeData, flushData);
    std::vector<png_bytep> rows(static_cast<std::size_t>(image.height()));
    for (std::size_t y = 0; y < rows.size(); ++y) {
      rows[y] = const_cast<png_bytep>(image.constScanLine(static_cast<int>(y)));
    }
    // The image's texts, as Qt's reader reads them back: Latin-1 text in
    // tEXt chunks (zTXt when long), any other in UTF-8 iTXt chunks.
    const QStringList keys = image.textKeys();
    std::vector<QByteArray> bytes;
    bytes.reserve(static_cast<std::size_t>(keys.size()) * 2);  // no reallocation: the texts point into it
    std::vector<png_text> texts(static_cast<std::size_t>(keys.size()));
    for (qsizetype i = 0; i < keys.size(); ++i) {
      const QString value = image.text(keys[i]);
      const bool latin1 = QString::fromLatin1(value.toLatin1()) == value;
      bytes.push_back(keys[i].toLatin1().left(79));
      bytes.push_back(latin1 ? value.toLatin1() : value.toUtf8());
      png_text& t = texts[static_cast<std::size_t>(i)];
      t = png_text{};
      t.key = bytes[bytes.size() - 2].data();
      t.text = bytes.back().data();
      if (latin1) {
        t.compression = bytes.back().size() > 1024 ? PNG_TEXT_COMPRESSION_zTXt : PNG_TEXT_COMPRESSION_NONE;
        t.text_length = static_cast<std::size_t>(bytes.back().size());
      } else {
        t.compression = PNG_ITXT_COMPRESSION_NONE;
        t.itxt_length = static_cast<std::size_t>(bytes.back().size());
      }
    }
    ok = writeRows(png, info, image, rows.data(), texts.data(), static_cast<int>(texts.size()));
  } else {
    io.error = "out of memory";
  }
  png_destroy_write_struct(png ? &png : nullptr, info ? &info : nullptr);
  error = io.writeErrno != 0 ? std::strerror(io.writeErrno) : io.error;
  return ok;
}

}  // namespace vellomar
