// SPDX-License-Identifier: GPL-3.0-or-later
#include "files/picture_writer.h"

#include <fcntl.h>
#include <unistd.h>

#include <QImage>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>

#include "engine/design.h"
#include "files/output_file.h"
#include "files/picture_png.h"
#include "files/picture_preview.h"

namespace vellomar {

std::uint64_t maxLoadablePixels() { return maxPicturePixels(); }

bool pictureSizeLoadable(std::uint64_t width, std::uint64_t height) {
  const std::uint64_t side = std::min<std::uint64_t>(kMaxPngSide, kMaxPictureSide);
  if (width < 1 || height < 1 || width > side || height > side) return false;
  return width * height <= maxLoadablePixels();
}

namespace {

// Whether the picture's colour planes make its brightness: its red, green
// and blue (a loaded or edited picture), or its red and green alone (blue
// absent, as an analysis of a stereo wave makes it). Then those colours
// are the picture, and a PNG of them loads back to the same brightness.
bool madeOfItsColours(const PictureBitmap& picture) {
  const std::size_t bytes = picture.pixels.size();
  if (picture.red.size() != bytes || picture.green.size() != bytes || picture.width == 0) return false;
  const bool withBlue = picture.blue.size() == bytes;
  for (std::uint32_t y = 0; y < picture.height; ++y) {
    const std::size_t row = static_cast<std::size_t>(y) * picture.stride;
    for (std::uint32_t x = 0; x < picture.width; ++x) {
      const std::size_t i = row + x;
      const std::uint8_t blue = withBlue ? picture.blue[i] : 0;
      if (picture.pixels[i] != brightnessOf(picture.red[i], picture.green[i], blue)) return false;
    }
  }
  return true;
}

}  // namespace

bool savePicturePng(const PictureBitmap& picture, const std::string& path, Refusal& refusal,
                    const std::string& textKey, const std::string& text) {
  QImage image;
  try {
    image = picturePreview(picture);
    if (!image.isNull() && madeOfItsColours(picture)) {
      // The colours: red for the left channel, green for the right.
      const bool withBlue = picture.blue.size() == picture.pixels.size();
      image = QImage(image.width(), image.height(), QImage::Format_RGB32);
      const auto h = static_cast<std::size_t>(picture.height);
      for (std::size_t y = 0; !image.isNull() && y < h; ++y) {
        const std::size_t row = (h - 1 - y) * picture.stride;
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(static_cast<int>(y)));
        for (std::size_t x = 0; x < picture.width; ++x) {
          const std::size_t i = row + x;
          line[x] = qRgb(picture.red[i], picture.green[i], withBlue ? picture.blue[i] : 0);
        }
      }
      // A grey picture stays a grey file.
      if (!image.isNull() && image.allGray()) image = picturePreview(picture);
    }
  } catch (const std::bad_alloc&) {
    image = QImage();
  }
  if (image.isNull()) {
    refusal = errorRefusal("Not enough memory");
    return false;
  }
  if (!textKey.empty()) image.setText(QString::fromStdString(textKey), QString::fromStdString(text));
  OutputFile output;
  // "-" is standard output, written as it goes.
  const bool standard = path == "-";
  std::FILE* stream = nullptr;
  if (standard) {
    const int fd = ::fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 0);
    stream = fd >= 0 ? ::fdopen(fd, "wb") : nullptr;
    if (!stream) {
      if (fd >= 0) ::close(fd);
      refusal = errorRefusal("Cannot create picture file 'standard output'");
      return false;
    }
  } else {
    stream = output.openBlank(path, "picture file", refusal);
  }
  if (!stream) return false;
  std::string error;
  bool ok = writePng(stream, image, error);
  errno = 0;
  if (ok && (std::fflush(stream) != 0 || std::ferror(stream))) {
    ok = false;
    error = std::strerror(errno != 0 ? errno : EIO);
  }
  const bool closed = std::fclose(stream) == 0;
  if (ok && !closed) error = std::strerror(errno != 0 ? errno : EIO);
  ok = ok && closed;
  if (!ok) {
    output.discard();
    refusal = errorRefusal("Cannot write to picture file '%s'. You may be running out of disk space\n%s",
                           standard ? "standard output" : path.c_str(), error.c_str());
    return false;
  }
  return standard || output.commit(refusal);
}

}  // namespace vellomar
