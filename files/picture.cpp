// SPDX-License-Identifier: GPL-3.0-or-later
#include "files/picture.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QImage>
#include <QImageReader>
#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <new>
#include <vector>

#include "engine/design.h"
#include "files/decoder_messages.h"
#include "files/picture_png.h"
#include "files/picture_source.h"
#include "files/picture_tiff.h"

namespace vellomar {
namespace {

std::uint8_t brightness(QRgb colour) {
  return brightnessOf(static_cast<std::uint8_t>(qRed(colour)), static_cast<std::uint8_t>(qGreen(colour)),
                      static_cast<std::uint8_t>(qBlue(colour)));
}

std::atomic<std::uint64_t> gPixelLimit{0};

// The rest of a limit of `limit` bytes when `used` are taken.
std::uint64_t leftOf(rlim_t limit, std::uint64_t used) {
  if (limit == RLIM_INFINITY) return UINT64_MAX;
  return limit > used ? static_cast<std::uint64_t>(limit) - used : 0;
}

// The memory this process may still take: the computer's, or less where
// its address space or data are limited (ulimit -v, ulimit -d).
std::uint64_t memoryAvailable() {
  const long pages = ::sysconf(_SC_PHYS_PAGES);
  const long pageSize = ::sysconf(_SC_PAGESIZE);
  std::uint64_t memory = pages > 0 && pageSize > 0
                             ? static_cast<std::uint64_t>(pages) * static_cast<std::uint64_t>(pageSize)
                             : std::uint64_t{4} << 30;
  std::uint64_t size = 0, resident = 0, shared = 0, text = 0, lib = 0, data = 0;
  if (std::FILE* statm = std::fopen("/proc/self/statm", "re")) {
    const int read = std::fscanf(statm, "%lu %lu %lu %lu %lu %lu", &size, &resident, &shared, &text, &lib, &data);
    std::fclose(statm);
    if (read != 6) size = data = 0;
  }
  const auto page = static_cast<std::uint64_t>(pageSize > 0 ? pageSize : 4096);
  struct rlimit limit = {};
  if (::getrlimit(RLIMIT_AS, &limit) == 0) memory = std::min(memory, leftOf(limit.rlim_cur, size * page));
  if (::getrlimit(RLIMIT_DATA, &limit) == 0) memory = std::min(memory, leftOf(limit.rlim_cur, data * page));
  return memory;
}

// Pixels whose render the memory can hold: the decoded image, its
// brightness and colour bytes and a gain per pixel come to about 13 bytes a
// pixel, and a quarter of the memory is left for everything else.
std::uint64_t renderablePixels() {
  const std::uint64_t pixels = memoryAvailable() / 4 * 3 / 13;
  const std::uint64_t lowered = gPixelLimit.load();
  return lowered > 0 ? std::min(pixels, lowered) : pixels;
}

std::string tooBig(std::uint64_t width, std::uint64_t height, std::uint64_t pixels) {
  char text[256];
  if (width > kMaxPictureSide || height > kMaxPictureSide) {
    std::snprintf(text, sizeof text, "The picture is %llu x %llu pixels; a side of at most %u pixels can be rendered.",
                  static_cast<unsigned long long>(width), static_cast<unsigned long long>(height),
                  static_cast<unsigned>(kMaxPictureSide));
  } else {
    char most[64];
    if (pixels >= 1000000) {
      std::snprintf(most, sizeof most, "%.1f million", std::floor(static_cast<double>(pixels) / 1e5) / 10.0);
    } else {
      std::snprintf(most, sizeof most, "%llu", static_cast<unsigned long long>(pixels));
    }
    std::snprintf(text, sizeof text,
                  "The picture is %llu x %llu pixels, too big to render here: the memory this program may use holds "
                  "at most %s pixels.",
                  static_cast<unsigned long long>(width), static_cast<unsigned long long>(height), most);
  }
  return text;
}

std::string damaged(PictureFormat format) {
  return std::string("The ") + formatName(format) + " picture is damaged or incomplete.";
}

const char* const kNoMemory = "There is not enough memory to decode it.";

// The limits of one load, taken once.
struct Limits {
  std::uint64_t pixels;
  // The most bytes any one allocation of a decoder may take: the decoded
  // picture at eight bytes a pixel (16-bit samples with alpha).
  std::uint64_t allocation;
};

Limits currentLimits() {
  const std::uint64_t pixels = renderablePixels();
  return Limits{pixels, std::max<std::uint64_t>(pixels * 8, std::uint64_t{1} << 20)};
}

// Whether a picture of width x height may be decoded; `reason` says why
// not.
bool sizeAllowed(std::uint64_t width, std::uint64_t height, const Limits& limits, PictureFormat format,
                 std::string& reason) {
  if (width == 0 || height == 0) {
    reason = damaged(format);
    return false;
  }
  if (width > kMaxPictureSide || height > kMaxPictureSide || width * height > limits.pixels) {
    reason = tooBig(width, height, limits.pixels);
    return false;
  }
  return true;
}

// Qt's reader for `format` alone (no other format is tried, whatever the
// content), its size checked before it decodes, its allocations capped.
QImage decodeWithQt(PictureSource& source, PictureFormat format, const Limits& limits,
                    const DecoderMessages& messages, std::string& reason) {
  QIODevice* device = source.device();
  if (!device) {
    reason = damaged(format);
    return QImage();
  }
  QImageReader reader(device, qtFormatName(format));
  reader.setAutoDetectImageFormat(false);
  reader.setDecideFormatFromContent(false);
  reader.setAutoTransform(false);
  const std::uint64_t megabytes = (limits.allocation + (1u << 20) - 1) >> 20;
  reader.setAllocationLimit(static_cast<int>(std::min<std::uint64_t>(megabytes, INT32_MAX)));
  const QSize size = reader.size();
  if (!size.isValid()) {
    reason = damaged(format);
    return QImage();
  }
  if (!sizeAllowed(static_cast<std::uint64_t>(size.width()), static_cast<std::uint64_t>(size.height()), limits,
                   format, reason)) {
    return QImage();
  }
  QImage image;
  if (!reader.read(&image)) {
    const std::string& said = messages.last();
    const bool memory = said.find("out of memory") != std::string::npos ||
                        said.find("allocation limit") != std::string::npos;
    reason = memory ? kNoMemory : damaged(format);
    return QImage();
  }
  return image;
}

// A TIFF: its first image's declared shape is read with libtiff and
// checked; 8-bit pictures with alpha are decoded here by their stored
// bytes, the rest by Qt's reader.
QImage decodeTiff(PictureSource& source, const Limits& limits, const DecoderMessages& messages,
                  std::string& reason) {
  TiffShape shape;
  {
    TiffFile tiff(source, limits.allocation);
    if (!tiff.isOpen() || !tiff.shape(shape)) {
      reason = damaged(PictureFormat::Tiff);
      return QImage();
    }
    if (!sizeAllowed(shape.width, shape.height, limits, PictureFormat::Tiff, reason)) return QImage();
    if (shape.pieceBytes > limits.allocation) {
      reason = damaged(PictureFormat::Tiff);
      return QImage();
    }
    if (shape.withAlpha) {
      QImage image = tiff.decodeWithAlpha(shape);
      if (image.isNull()) reason = damaged(PictureFormat::Tiff);
      return image;
    }
  }
  return decodeWithQt(source, PictureFormat::Tiff, limits, messages, reason);
}

// A PNG, through libpng with our own error handlers.
QImage decodePngPicture(PictureSource& source, const Limits& limits, std::string& reason) {
  bool refused = false;
  std::string error;
  const auto allowed = [&](std::uint64_t width, std::uint64_t height) {
    return sizeAllowed(width, height, limits, PictureFormat::Png, reason);
  };
  QImage image = decodePng(source, allowed, refused, error);
  if (image.isNull() && !refused) {
    const bool memory = error.find("memory") != std::string::npos || error.find("Memory") != std::string::npos;
    reason = memory ? kNoMemory : damaged(PictureFormat::Png);
  }
  return image;
}

// Decodes the source's default frame, untouched by any colour management
// or orientation tag. A null image on failure, with `reason` set.
QImage decode(PictureSource& source, const Limits& limits, std::string& reason) {
  const std::vector<std::uint8_t> header = source.header();
  const PictureFormat format = pictureFormatOf(header);
  if (format == PictureFormat::Unknown) {
    reason = unreadFormatReason(header);
    return QImage();
  }
  std::uint64_t width = 0, height = 0;
  if (declaredSize(format, header, width, height) && !sizeAllowed(width, height, limits, format, reason)) {
    return QImage();
  }
  const DecoderMessages messages;
  if (format == PictureFormat::Png) return decodePngPicture(source, limits, reason);
  if (format == PictureFormat::Tiff) return decodeTiff(source, limits, messages, reason);
  return decodeWithQt(source, format, limits, messages, reason);
}

// The loaded picture's bytes, or nullptr with `reason`.
std::shared_ptr<const PictureBitmap> toBitmap(QImage image, const Limits& limits, std::string& reason) {
  const auto width = static_cast<std::uint64_t>(image.width());
  const auto height = static_cast<std::uint64_t>(image.height());
  const std::uint64_t stride = (width + 3) & ~std::uint64_t{3};
  // The render places rows and columns by single-precision positions and
  // keeps width * height floats besides these bytes; refuse sizes beyond
  // either (a decoder may deliver another size than it declared).
  if (width > kMaxPictureSide || height > kMaxPictureSide || stride * height > SIZE_MAX / sizeof(float)) {
    reason = tooBig(width, height, limits.pixels);
    return nullptr;
  }
  // Straight (not premultiplied) ARGB keeps the colour bytes of
  // transparent pixels where the decoder delivered them.
  if (image.format() != QImage::Format_ARGB32 && image.format() != QImage::Format_RGB32) {
    image = image.convertToFormat(image.hasAlphaChannel() ? QImage::Format_ARGB32 : QImage::Format_RGB32);
    if (image.isNull()) {
      reason = kNoMemory;
      return nullptr;
    }
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
}

std::shared_ptr<const PictureBitmap> load(PictureSource& source, const Limits& limits, std::string* reason) {
  std::string why;
  std::shared_ptr<const PictureBitmap> bitmap;
  try {
    QImage image = decode(source, limits, why);
    if (!image.isNull()) bitmap = toBitmap(std::move(image), limits, why);
  } catch (const std::bad_alloc&) {
    why = kNoMemory;
    bitmap = nullptr;
  }
  if (!bitmap && reason) *reason = why;
  return bitmap;
}

// Reads a picture that comes as a stream: its first bytes tell its kind
// and (for most kinds) its size before the rest is read.
std::shared_ptr<const PictureBitmap> loadStream(int fd, std::string* reason) {
  const Limits limits = currentLimits();
  auto refuse = [&](std::string text) -> std::shared_ptr<const PictureBitmap> {
    if (reason) *reason = std::move(text);
    return nullptr;
  };
  std::vector<std::uint8_t> head;
  if (!readUpTo(fd, kPictureHeaderBytes, head)) return refuse(std::string());
  const PictureFormat format = pictureFormatOf(head);
  if (format == PictureFormat::Unknown) return refuse(unreadFormatReason(head));
  std::uint64_t width = 0, height = 0;
  std::string why;
  if (declaredSize(format, head, width, height) && !sizeAllowed(width, height, limits, format, why)) {
    return refuse(why);
  }
  // No picture a render can hold takes more than 8 bytes a pixel (16-bit
  // samples with alpha, uncompressed), nor more than half the memory.
  const std::uint64_t most = std::min(limits.pixels * 8 + (std::uint64_t{16} << 20), memoryAvailable() / 2);
  PictureSource source;
  bool tooLong = false;
  try {
    if (!PictureSource::ofStream(std::move(head), fd, most, source, tooLong)) {
      if (!tooLong) return refuse(std::string());
      char text[200];
      std::snprintf(text, sizeof text, "It is longer than %.0f MB, more than any picture a render can hold here.",
                    std::floor(static_cast<double>(most) / 1e6));
      return refuse(text);
    }
  } catch (const std::bad_alloc&) {
    return refuse(kNoMemory);
  }
  return load(source, limits, reason);
}

}  // namespace

std::shared_ptr<const PictureBitmap> loadPicture(const std::string& path, std::string* reason) {
  if (reason) reason->clear();
  // Opened by its bytes, whatever the name's encoding, and without
  // waiting for a pipe's writer.
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return nullptr;
  struct Closer {
    int fd;
    ~Closer() { ::close(fd); }
  } closer{fd};
  struct stat st = {};
  if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) return nullptr;
  if (!S_ISREG(st.st_mode)) {
    // A pipe or a device is read to its end; a pipe with no writer has
    // none.
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) return nullptr;
    return loadStream(fd, reason);
  }
  PictureSource source = PictureSource::ofFile(fd, static_cast<std::uint64_t>(st.st_size));
  return load(source, currentLimits(), reason);
}

std::shared_ptr<const PictureBitmap> loadPictureBytes(const std::uint8_t* data, std::size_t size,
                                                      std::string* reason) {
  if (reason) reason->clear();
  PictureSource source = PictureSource::ofBytes(data, size);
  return load(source, currentLimits(), reason);
}

std::shared_ptr<const PictureBitmap> loadPictureStream(int fd, std::string* reason) {
  if (reason) reason->clear();
  return loadStream(fd, reason);
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

void limitPicturePixels(std::uint64_t most) { gPixelLimit.store(most); }

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
