// SPDX-License-Identifier: GPL-3.0-or-later
#include "files/picture_source.h"

#include <unistd.h>

#include <QBuffer>
#include <QByteArray>
#include <QFile>
#include <algorithm>
#include <cerrno>
#include <cstring>

namespace vellomar {
namespace {

bool startsWith(const std::vector<std::uint8_t>& bytes, const char* magic, std::size_t length,
                std::size_t offset = 0) {
  return bytes.size() >= offset + length && std::memcmp(bytes.data() + offset, magic, length) == 0;
}

// Kinds of files that people take for pictures but the loader does not
// read, by their first bytes.
struct Known {
  const char* magic;
  std::size_t length;
  std::size_t offset;
  const char* name;
};
constexpr Known kKnownOthers[] = {
    {"\x8aMNG\r\n\x1a\n", 8, 0, "an MNG animation"},
    {"\x8bJNG\r\n\x1a\n", 8, 0, "a JNG picture"},
    {"WEBP", 4, 8, "a WebP picture"},
    {"ftypheic", 8, 4, "a HEIF picture"},
    {"ftypheix", 8, 4, "a HEIF picture"},
    {"ftypmif1", 8, 4, "a HEIF picture"},
    {"ftypavif", 8, 4, "an AVIF picture"},
    {"\0\0\1\0", 4, 0, "an icon (ICO)"},
    {"\0\0\2\0", 4, 0, "a cursor (CUR)"},
    {"8BPS", 4, 0, "a Photoshop document"},
    {"\0\0\0\x0cjP  ", 8, 0, "a JPEG 2000 picture"},
    {"\xff\x4f\xff\x51", 4, 0, "a JPEG 2000 picture"},
    {"/* XPM */", 9, 0, "an XPM picture"},
    {"<svg", 4, 0, "an SVG drawing"},
    {"<?xml", 5, 0, "an XML file (an SVG drawing?)"},
    {"%PDF", 4, 0, "a PDF document"},
    {"qoif", 4, 0, "a QOI picture"},
    {"icns", 4, 0, "an Apple icon"},
    {"RIFF", 4, 0, "a RIFF file (a wave?)"},
};

}  // namespace

PictureSource PictureSource::ofFile(int fd, std::uint64_t size) {
  PictureSource source;
  source.fd_ = fd;
  source.size_ = size;
  return source;
}

PictureSource PictureSource::ofBytes(const std::uint8_t* data, std::size_t size) {
  PictureSource source;
  source.data_ = data;
  source.size_ = size;
  return source;
}

bool PictureSource::ofStream(std::vector<std::uint8_t> head, int fd, std::uint64_t maxBytes, PictureSource& source,
                             bool& tooLong) {
  tooLong = false;
  auto bytes = std::make_shared<std::vector<std::uint8_t>>(std::move(head));
  std::size_t used = bytes->size();
  if (used > maxBytes) {
    tooLong = true;
    return false;
  }
  for (;;) {
    if (bytes->size() - used < 65536) {
      // Grown as the bytes come, never past the cap (plus the one byte
      // that shows there are more).
      const std::uint64_t want =
          std::min<std::uint64_t>(std::max<std::size_t>(bytes->size() * 2, 1 << 20), maxBytes + 1);
      if (want <= bytes->size()) {
        tooLong = true;
        return false;
      }
      bytes->resize(static_cast<std::size_t>(want));
    }
    const ssize_t got = ::read(fd, bytes->data() + used, bytes->size() - used);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return false;
    if (got == 0) break;
    used += static_cast<std::size_t>(got);
    if (used > maxBytes) {
      tooLong = true;
      return false;
    }
  }
  bytes->resize(used);
  bytes->shrink_to_fit();
  source = ofBytes(bytes->data(), bytes->size());
  source.held_ = std::move(bytes);
  return true;
}

bool readUpTo(int fd, std::size_t count, std::vector<std::uint8_t>& bytes) {
  bytes.resize(count);
  std::size_t used = 0;
  while (used < count) {
    const ssize_t got = ::read(fd, bytes.data() + used, count - used);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return false;
    if (got == 0) break;
    used += static_cast<std::size_t>(got);
  }
  bytes.resize(used);
  return true;
}

std::size_t PictureSource::readAt(std::uint64_t offset, void* buffer, std::size_t count) const {
  if (offset >= size_) return 0;
  count = static_cast<std::size_t>(std::min<std::uint64_t>(count, size_ - offset));
  if (data_) {
    std::memcpy(buffer, data_ + offset, count);
    return count;
  }
  std::size_t done = 0;
  while (done < count) {
    const ssize_t got = ::pread(fd_, static_cast<char*>(buffer) + done, count - done,
                                static_cast<off_t>(offset + done));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    done += static_cast<std::size_t>(got);
  }
  return done;
}

std::vector<std::uint8_t> PictureSource::header() const {
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(std::min<std::uint64_t>(size_, kPictureHeaderBytes)));
  bytes.resize(readAt(0, bytes.data(), bytes.size()));
  return bytes;
}

QIODevice* PictureSource::device() {
  if (device_) {
    device_->seek(0);
    return device_.get();
  }
  if (data_) {
    auto buffer = std::make_shared<QBuffer>();
    buffer->setData(QByteArray::fromRawData(reinterpret_cast<const char*>(data_), static_cast<qsizetype>(size_)));
    if (!buffer->open(QIODevice::ReadOnly)) return nullptr;
    device_ = buffer;
  } else {
    auto file = std::make_shared<QFile>();
    if (!file->open(fd_, QIODevice::ReadOnly, QFileDevice::DontCloseHandle)) return nullptr;
    device_ = file;
  }
  device_->seek(0);
  return device_.get();
}

PictureFormat pictureFormatOf(const std::vector<std::uint8_t>& header) {
  if (startsWith(header, "\x89PNG\r\n\x1a\n", 8)) return PictureFormat::Png;
  if (startsWith(header, "\xff\xd8\xff", 3)) return PictureFormat::Jpeg;
  if (startsWith(header, "GIF87a", 6) || startsWith(header, "GIF89a", 6)) return PictureFormat::Gif;
  // Classic TIFF and BigTIFF, in either byte order.
  if (startsWith(header, "II*\0", 4) || startsWith(header, "MM\0*", 4) || startsWith(header, "II+\0", 4) ||
      startsWith(header, "MM\0+", 4)) {
    return PictureFormat::Tiff;
  }
  if (startsWith(header, "BM", 2) && header.size() >= 18) return PictureFormat::Bmp;
  return PictureFormat::Unknown;
}

bool declaredSize(PictureFormat format, const std::vector<std::uint8_t>& header, std::uint64_t& width,
                  std::uint64_t& height) {
  const auto le = [&](std::size_t at, int bytes) {
    std::uint64_t v = 0;
    for (int i = bytes - 1; i >= 0; --i) v = v << 8 | header[at + static_cast<std::size_t>(i)];
    return v;
  };
  const auto be32 = [&](std::size_t at) {
    std::uint64_t v = 0;
    for (std::size_t i = 0; i < 4; ++i) v = v << 8 | header[at + i];
    return v;
  };
  switch (format) {
    case PictureFormat::Png:
      // The signature, then the IHDR chunk: length, type, width, height.
      if (header.size() < 24 || !startsWith(header, "IHDR", 4, 12)) return false;
      width = be32(16);
      height = be32(20);
      return true;
    case PictureFormat::Gif:
      // The logical screen; a frame may be larger, which the decoder's
      // allocation limit stops.
      if (header.size() < 10) return false;
      width = le(6, 2);
      height = le(8, 2);
      return true;
    case PictureFormat::Bmp: {
      if (header.size() < 26) return false;
      if (le(14, 4) == 12) {  // the old OS/2 header: 16-bit sides
        width = le(18, 2);
        height = le(20, 2);
        return true;
      }
      // Signed sides; a negative height stores the rows top-down.
      const auto w = static_cast<std::int32_t>(le(18, 4));
      const auto h = static_cast<std::int32_t>(le(22, 4));
      width = w < 0 ? 0 : static_cast<std::uint64_t>(w);
      height = h < 0 ? std::uint64_t{0} - static_cast<std::uint64_t>(static_cast<std::int64_t>(h))
                     : static_cast<std::uint64_t>(h);
      return true;
    }
    default:
      return false;
  }
}

const char* qtFormatName(PictureFormat format) {
  switch (format) {
    case PictureFormat::Bmp:
      return "bmp";
    case PictureFormat::Png:
      return "png";
    case PictureFormat::Jpeg:
      return "jpeg";
    case PictureFormat::Gif:
      return "gif";
    case PictureFormat::Tiff:
      return "tiff";
    case PictureFormat::Unknown:
      break;
  }
  return "";
}

const char* formatName(PictureFormat format) {
  switch (format) {
    case PictureFormat::Bmp:
      return "BMP";
    case PictureFormat::Png:
      return "PNG";
    case PictureFormat::Jpeg:
      return "JPEG";
    case PictureFormat::Gif:
      return "GIF";
    case PictureFormat::Tiff:
      return "TIFF";
    case PictureFormat::Unknown:
      break;
  }
  return "unknown";
}

std::string unreadFormatReason(const std::vector<std::uint8_t>& header) {
  const std::string formats = "only BMP, PNG, JPEG, GIF and TIFF pictures are read.";
  if (header.empty()) return "The file is empty.";
  for (const Known& known : kKnownOthers) {
    if (startsWith(header, known.magic, known.length, known.offset)) {
      return std::string("It is ") + known.name + "; " + formats;
    }
  }
  if (header.size() >= 2 && header[0] == 'P' && header[1] >= '1' && header[1] <= '7') {
    return "It is a Netpbm picture (PBM, PGM, PPM or PAM); " + formats;
  }
  return "It is not a picture of a kind read here: " + formats;
}

}  // namespace vellomar
