#include "files/picture_writer.h"

#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QImageWriter>
#include <cstring>
#include <new>

#include "files/output_file.h"
#include "files/picture_preview.h"

namespace vellomar {

std::uint64_t maxLoadablePixels() {
  const int megabytes = QImageReader::allocationLimit();
  // No limit set: the loader is bound by the sides alone.
  if (megabytes <= 0) return std::uint64_t{kMaxPngSide} * kMaxPngSide;
  return static_cast<std::uint64_t>(megabytes) * 1024 * 1024 / 4;
}

bool pictureSizeLoadable(std::uint64_t width, std::uint64_t height) {
  if (width < 1 || height < 1 || width > kMaxPngSide || height > kMaxPngSide) return false;
  return width * height <= maxLoadablePixels();
}

bool savePicturePng(const PictureBitmap& picture, const std::string& path, Refusal& refusal) {
  QImage image;
  try {
    image = picturePreview(picture);
  } catch (const std::bad_alloc&) {
    image = QImage();
  }
  if (image.isNull()) {
    refusal = errorRefusal("Not enough memory");
    return false;
  }
  OutputFile output;
  std::FILE* stream = output.openBlank(path, "picture file", refusal);
  if (!stream) return false;
  bool ok = false;
  {
    QFile file;
    if (file.open(stream, QIODevice::WriteOnly, QFileDevice::DontCloseHandle)) {
      QImageWriter writer(&file, "png");
      ok = writer.write(image);
      file.close();
    }
  }
  ok = std::fflush(stream) == 0 && !std::ferror(stream) && ok;
  ok = std::fclose(stream) == 0 && ok;
  if (!ok) {
    output.discard();
    refusal = errorRefusal("Cannot write to picture file '%s'. You may be running out of disk space", path.c_str());
    return false;
  }
  return output.commit(refusal);
}

}  // namespace vellomar
