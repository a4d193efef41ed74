// SPDX-License-Identifier: GPL-3.0-or-later
#include "files/picture.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <tiffio.h>
#include <unistd.h>

#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QString>
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <new>
#include <vector>

#include "engine/design.h"

namespace vellomar {
namespace {

std::uint8_t brightness(QRgb colour) {
  return brightnessOf(static_cast<std::uint8_t>(qRed(colour)), static_cast<std::uint8_t>(qGreen(colour)),
                      static_cast<std::uint8_t>(qBlue(colour)));
}

// Decoders write their complaints to standard error themselves (libpng,
// libtiff) or through Qt's messages (the JPEG reader). A picture that
// cannot be loaded gets the program's own message, so while a picture is
// decoded they are dropped: Qt's messages of the decoding thread, and
// whatever reaches standard error in that time.
thread_local bool tDecoding = false;
QtMessageHandler gPreviousHandler = nullptr;

void dropWhileDecoding(QtMsgType type, const QMessageLogContext& context, const QString& message) {
  if (tDecoding) return;
  if (gPreviousHandler) gPreviousHandler(type, context, message);
}

void quietDecoders() {
  static std::once_flag once;
  std::call_once(once, [] {
    TIFFSetErrorHandler(nullptr);
    TIFFSetWarningHandler(nullptr);
    gPreviousHandler = qInstallMessageHandler(dropWhileDecoding);
  });
}

class DecodingScope {
 public:
  DecodingScope() {
    quietDecoders();
    tDecoding = true;
    std::fflush(stderr);
    saved_ = ::dup(STDERR_FILENO);
    const int nowhere = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (saved_ >= 0 && nowhere >= 0) ::dup2(nowhere, STDERR_FILENO);
    if (nowhere >= 0) ::close(nowhere);
  }
  ~DecodingScope() {
    std::fflush(stderr);
    if (saved_ >= 0) {
      ::dup2(saved_, STDERR_FILENO);
      ::close(saved_);
    }
    tDecoding = false;
  }
  DecodingScope(const DecodingScope&) = delete;
  DecodingScope& operator=(const DecodingScope&) = delete;

 private:
  int saved_ = -1;
};

// Pixels whose render this computer's memory can hold: the decoded image,
// its brightness and colour bytes and a gain per pixel come to about 13
// bytes a pixel, and a quarter of the memory is left for everything else.
std::uint64_t renderablePixels() {
  const long pages = ::sysconf(_SC_PHYS_PAGES);
  const long pageSize = ::sysconf(_SC_PAGESIZE);
  const std::uint64_t memory = pages > 0 && pageSize > 0 ? static_cast<std::uint64_t>(pages) *
                                                               static_cast<std::uint64_t>(pageSize)
                                                         : std::uint64_t{4} << 30;
  return memory / 4 * 3 / 13;
}

std::string tooBig(std::uint64_t width, std::uint64_t height) {
  char text[256];
  if (width > kMaxPictureSide || height > kMaxPictureSide) {
    std::snprintf(text, sizeof text, "The picture is %llu x %llu pixels; a side of at most %u pixels can be rendered.",
                  static_cast<unsigned long long>(width), static_cast<unsigned long long>(height),
                  static_cast<unsigned>(kMaxPictureSide));
  } else {
    std::snprintf(text, sizeof text,
                  "The picture is %llu x %llu pixels, too big to render here: this computer's memory holds at "
                  "most %llu million pixels.",
                  static_cast<unsigned long long>(width), static_cast<unsigned long long>(height),
                  static_cast<unsigned long long>(renderablePixels() / 1000000));
  }
  return text;
}

// An 8-bit TIFF with colour (or grey) and alpha, read by its stored bytes:
// Qt's reader premultiplies such pictures and so loses the colour of every
// transparent pixel. A null image (and `handled` false) for any other
// TIFF, which Qt's reader then decodes.
QImage decodeTiffWithAlpha(int fd, bool& handled) {
  handled = false;
  const int own = ::dup(fd);
  if (own < 0) return QImage();
  TIFF* tiff = TIFFFdOpen(own, "picture", "r");
  if (!tiff) {
    ::close(own);
    return QImage();
  }
  std::uint32_t width = 0, height = 0;
  std::uint16_t bits = 0, samples = 0, photometric = 0, planar = PLANARCONFIG_CONTIG, extraCount = 0;
  std::uint16_t* extra = nullptr;
  const bool suitable =
      TIFFGetField(tiff, TIFFTAG_IMAGEWIDTH, &width) == 1 && TIFFGetField(tiff, TIFFTAG_IMAGELENGTH, &height) == 1 &&
      TIFFGetFieldDefaulted(tiff, TIFFTAG_BITSPERSAMPLE, &bits) == 1 &&
      TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLESPERPIXEL, &samples) == 1 &&
      TIFFGetField(tiff, TIFFTAG_PHOTOMETRIC, &photometric) == 1 &&
      TIFFGetFieldDefaulted(tiff, TIFFTAG_PLANARCONFIG, &planar) == 1 &&
      TIFFGetField(tiff, TIFFTAG_EXTRASAMPLES, &extraCount, &extra) == 1 && extraCount == 1 && bits == 8 &&
      planar == PLANARCONFIG_CONTIG &&
      ((photometric == PHOTOMETRIC_RGB && samples == 4) || (photometric == PHOTOMETRIC_MINISBLACK && samples == 2));
  QImage image;
  if (suitable && width > 0 && height > 0 && width <= INT32_MAX && height <= INT32_MAX) {
    handled = true;
    image = QImage(static_cast<int>(width), static_cast<int>(height), QImage::Format_ARGB32);
    const bool tiled = TIFFIsTiled(tiff) != 0;
    std::vector<std::uint8_t> buffer;
    std::uint32_t tileWidth = width, tileHeight = 1;
    if (!image.isNull()) {
      if (tiled) {
        TIFFGetField(tiff, TIFFTAG_TILEWIDTH, &tileWidth);
        TIFFGetField(tiff, TIFFTAG_TILELENGTH, &tileHeight);
        buffer.resize(static_cast<std::size_t>(TIFFTileSize(tiff)));
      } else {
        buffer.resize(static_cast<std::size_t>(TIFFScanlineSize(tiff)));
      }
    }
    // Copies the pixels of one decoded piece (a scanline or a tile) into
    // the image at column x0, row y0.
    auto place = [&](std::uint32_t x0, std::uint32_t y0, std::uint32_t pieceWidth, std::uint32_t pieceHeight) {
      for (std::uint32_t y = 0; y < pieceHeight && y0 + y < height; ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(static_cast<int>(y0 + y)));
        const std::uint8_t* in = buffer.data() + static_cast<std::size_t>(y) * pieceWidth * samples;
        for (std::uint32_t x = 0; x < pieceWidth && x0 + x < width; ++x) {
          const std::uint8_t* p = in + static_cast<std::size_t>(x) * samples;
          line[x0 + x] = samples == 4 ? qRgba(p[0], p[1], p[2], p[3]) : qRgba(p[0], p[0], p[0], p[1]);
        }
      }
    };
    bool ok = !image.isNull() && !buffer.empty() && tileWidth > 0 && tileHeight > 0;
    if (ok && tiled) {
      if (buffer.size() < static_cast<std::size_t>(tileWidth) * tileHeight * samples) ok = false;
      for (std::uint32_t y0 = 0; ok && y0 < height; y0 += tileHeight) {
        for (std::uint32_t x0 = 0; ok && x0 < width; x0 += tileWidth) {
          ok = TIFFReadTile(tiff, buffer.data(), x0, y0, 0, 0) >= 0;
          if (ok) place(x0, y0, tileWidth, tileHeight);
        }
      }
    } else if (ok) {
      if (buffer.size() < static_cast<std::size_t>(width) * samples) ok = false;
      for (std::uint32_t y = 0; ok && y < height; ++y) {
        ok = TIFFReadScanline(tiff, buffer.data(), y, 0) == 1;
        if (ok) place(0, y, width, 1);
      }
    }
    if (!ok) image = QImage();
  }
  TIFFClose(tiff);
  return image;
}

// Decodes the file's default frame, untouched by any colour management or
// orientation tag. A null image on failure, with `reason` set when there is
// more to say than that the file is no picture.
QImage decode(const std::string& path, std::string& reason) {
  // Opened by its bytes, whatever the name's encoding; only a regular file
  // holds a picture, and opening a pipe would wait for a writer.
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return QImage();
  struct Closer {
    int fd;
    ~Closer() { ::close(fd); }
  } closer{fd};
  struct stat st = {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return QImage();

  const DecodingScope quiet;
  unsigned char magic[4] = {};
  if (::pread(fd, magic, 4, 0) == 4 &&
      (std::memcmp(magic, "II*\0", 4) == 0 || std::memcmp(magic, "MM\0*", 4) == 0)) {
    bool handled = false;
    QImage image = decodeTiffWithAlpha(fd, handled);
    if (handled) return image;
    // libtiff read through a duplicate, which shares the file position.
    if (::lseek(fd, 0, SEEK_SET) != 0) return QImage();
  }

  QFile file;
  if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::DontCloseHandle)) return QImage();
  QImageReader reader(&file);
  reader.setAutoTransform(false);
  reader.setDecideFormatFromContent(true);
  // Qt refuses images beyond a fixed allocation (128 MB, a 33-megapixel
  // photo); here the limit is what a render can hold.
  const std::uint64_t pixels = renderablePixels();
  reader.setAllocationLimit(static_cast<int>(std::min<std::uint64_t>(pixels * 4 >> 20, INT32_MAX)));
  const QSize size = reader.size();
  if (size.isValid()) {
    const auto w = static_cast<std::uint64_t>(size.width());
    const auto h = static_cast<std::uint64_t>(size.height());
    if (w > kMaxPictureSide || h > kMaxPictureSide || w * h > pixels) {
      reason = tooBig(w, h);
      return QImage();
    }
  }
  QImage image;
  if (!reader.read(&image)) return QImage();
  return image;
}

}  // namespace

std::shared_ptr<const PictureBitmap> loadPicture(const std::string& path, std::string* reason) {
  std::string why;
  auto refuse = [&](std::string text) -> std::shared_ptr<const PictureBitmap> {
    if (reason) *reason = std::move(text);
    return nullptr;
  };
  try {
    QImage image = decode(path, why);
    if (image.isNull() || image.width() <= 0 || image.height() <= 0) return refuse(why);

    const auto width = static_cast<std::uint64_t>(image.width());
    const auto height = static_cast<std::uint64_t>(image.height());
    const std::uint64_t stride = (width + 3) & ~std::uint64_t{3};
    // The render places rows and columns by single-precision positions and
    // keeps width * height floats besides these bytes; refuse sizes beyond
    // either.
    if (width > kMaxPictureSide || height > kMaxPictureSide) return refuse(tooBig(width, height));
    if (stride * height > SIZE_MAX / sizeof(float)) return refuse(tooBig(width, height));

    // Straight (not premultiplied) ARGB keeps the colour bytes of
    // transparent pixels where the decoder delivered them.
    if (image.format() != QImage::Format_ARGB32 && image.format() != QImage::Format_RGB32) {
      image = image.convertToFormat(image.hasAlphaChannel() ? QImage::Format_ARGB32 : QImage::Format_RGB32);
      if (image.isNull()) return refuse(tooBig(width, height));
    }

    auto bitmap = std::make_shared<PictureBitmap>();
    const auto bytes = static_cast<std::size_t>(stride * height);
    bitmap->pixels.resize(bytes);
    bitmap->red.resize(bytes);
    bitmap->green.resize(bytes);
    bitmap->blue.resize(bytes);
    bitmap->width = static_cast<std::uint32_t>(width);
    bitmap->stride = static_cast<std::uint32_t>(stride);
    bitmap->height = static_cast<std::uint32_t>(height);
    for (std::uint64_t y = 0; y < height; ++y) {
      const auto* line = reinterpret_cast<const QRgb*>(image.constScanLine(static_cast<int>(y)));
      const std::uint64_t row = (height - 1 - y) * stride;
      std::uint8_t* out = bitmap->pixels.data() + row;
      std::uint8_t* red = bitmap->red.data() + row;
      std::uint8_t* green = bitmap->green.data() + row;
      std::uint8_t* blue = bitmap->blue.data() + row;
      for (std::uint64_t x = 0; x < width; ++x) {
        out[x] = brightness(line[x]);
        red[x] = static_cast<std::uint8_t>(qRed(line[x]));
        green[x] = static_cast<std::uint8_t>(qGreen(line[x]));
        blue[x] = static_cast<std::uint8_t>(qBlue(line[x]));
      }
    }

    return bitmap;
  } catch (const std::bad_alloc&) {
    return refuse(std::string());
  }
}

std::uint8_t brightnessOf(std::uint8_t red, std::uint8_t green, std::uint8_t blue) {
  constexpr float kRed = 0.3f;
  constexpr float kGreen = 0.59f;
  constexpr float kBlue = 0.11f;
  const double sum = static_cast<double>(red) * static_cast<double>(kRed) +
                     static_cast<double>(green) * static_cast<double>(kGreen) +
                     static_cast<double>(blue) * static_cast<double>(kBlue) + 0.5;
  return static_cast<std::uint8_t>(sum);
}

std::uint64_t maxPicturePixels() { return renderablePixels(); }

Refusal pictureRefusal(const std::string& path, const std::string& reason) {
  if (reason.empty()) return errorRefusal("Failed to load picture '%s'", path.c_str());
  return errorRefusal("Failed to load picture '%s'\n%s", path.c_str(), reason.c_str());
}

PictureData pictureDataOf(const PictureBitmap& bitmap) {
  PictureData picture{bitmap.pixels.data(), bitmap.width, bitmap.stride, bitmap.height};
  // Planes that do not cover the picture are left out: it then counts as grey.
  if (bitmap.red.size() == bitmap.pixels.size()) picture.red = bitmap.red.data();
  if (bitmap.green.size() == bitmap.pixels.size()) picture.green = bitmap.green.data();
  return picture;
}

}  // namespace vellomar
