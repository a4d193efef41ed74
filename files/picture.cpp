#include "files/picture.h"

#include <sys/stat.h>

#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QString>
#include <cstdint>
#include <new>

#include "engine/design.h"

namespace vellomar {
namespace {

// The brightness of one colour: fixed float weights, the sum formed in
// double, rounded half up. (100, 150, 200) gives 140.
std::uint8_t brightness(QRgb colour) {
  constexpr float kRed = 0.3f;
  constexpr float kGreen = 0.59f;
  constexpr float kBlue = 0.11f;
  const double sum = static_cast<double>(qRed(colour)) * static_cast<double>(kRed) +
                     static_cast<double>(qGreen(colour)) * static_cast<double>(kGreen) +
                     static_cast<double>(qBlue(colour)) * static_cast<double>(kBlue) + 0.5;
  return static_cast<std::uint8_t>(sum);
}

// Decodes the file's default frame, untouched by any colour management or
// orientation tag. A null image on failure.
QImage decode(const std::string& path) {
  // Only a regular file holds a picture; opening a pipe would wait for a
  // writer that may never come.
  struct stat st = {};
  if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return QImage();
  QImageReader reader(QFile::decodeName(QByteArray::fromStdString(path)));
  reader.setAutoTransform(false);
  reader.setDecideFormatFromContent(true);
  QImage image;
  if (!reader.read(&image)) return QImage();
  return image;
}

}  // namespace

std::shared_ptr<const PictureBitmap> loadPicture(const std::string& path) {
  try {
    QImage image = decode(path);
    if (image.isNull() || image.width() <= 0 || image.height() <= 0) return nullptr;

    const auto width = static_cast<std::uint64_t>(image.width());
    const auto height = static_cast<std::uint64_t>(image.height());
    const std::uint64_t stride = (width + 3) & ~std::uint64_t{3};
    // The render places rows and columns by single-precision positions and
    // keeps width * height floats besides these bytes; refuse sizes beyond
    // either.
    if (width > kMaxPictureSide || height > kMaxPictureSide) return nullptr;
    if (stride * height > SIZE_MAX / sizeof(float)) return nullptr;

    // Straight (not premultiplied) ARGB keeps the colour bytes of
    // transparent pixels where the decoder delivered them.
    if (image.format() != QImage::Format_ARGB32 && image.format() != QImage::Format_RGB32) {
      image = image.convertToFormat(image.hasAlphaChannel() ? QImage::Format_ARGB32 : QImage::Format_RGB32);
      if (image.isNull()) return nullptr;
    }

    auto bitmap = std::make_shared<PictureBitmap>();
    const auto bytes = static_cast<std::size_t>(stride * height);
    bitmap->pixels.resize(bytes);
    bitmap->red.resize(bytes);
    bitmap->green.resize(bytes);
    bitmap->width = static_cast<std::uint32_t>(width);
    bitmap->stride = static_cast<std::uint32_t>(stride);
    bitmap->height = static_cast<std::uint32_t>(height);
    for (std::uint64_t y = 0; y < height; ++y) {
      const auto* line = reinterpret_cast<const QRgb*>(image.constScanLine(static_cast<int>(y)));
      const std::uint64_t row = (height - 1 - y) * stride;
      std::uint8_t* out = bitmap->pixels.data() + row;
      std::uint8_t* red = bitmap->red.data() + row;
      std::uint8_t* green = bitmap->green.data() + row;
      for (std::uint64_t x = 0; x < width; ++x) {
        out[x] = brightness(line[x]);
        red[x] = static_cast<std::uint8_t>(qRed(line[x]));
        green[x] = static_cast<std::uint8_t>(qGreen(line[x]));
      }
    }

    return bitmap;
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

PictureData pictureDataOf(const PictureBitmap& bitmap) {
  PictureData picture{bitmap.pixels.data(), bitmap.width, bitmap.stride, bitmap.height};
  // Planes that do not cover the picture are left out: it then counts as grey.
  if (bitmap.red.size() == bitmap.pixels.size()) picture.red = bitmap.red.data();
  if (bitmap.green.size() == bitmap.pixels.size()) picture.green = bitmap.green.data();
  return picture;
}

}  // namespace vellomar
