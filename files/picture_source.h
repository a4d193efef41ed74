// SPDX-License-Identifier: GPL-3.0-or-later
// Where the picture loader reads a picture from, and what kind of picture
// it holds, told by its first bytes alone.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class QIODevice;

namespace vellomar {

// The formats the loader reads. Any other content is refused by name
// before a decoder sees it.
enum class PictureFormat { Bmp, Png, Jpeg, Gif, Tiff, Unknown };

// The most bytes read to tell a picture's kind (and, for most kinds, its
// declared size) before anything is decoded.
inline constexpr std::size_t kPictureHeaderBytes = 4096;

// The bytes of a picture: a regular file, read where it lies, or bytes in
// memory (a picture read from a pipe or standard input, or given as such).
class PictureSource {
 public:
  // A regular file open as `fd` (not owned; it must stay open).
  static PictureSource ofFile(int fd, std::uint64_t size);
  // Bytes that stay valid while the source is used.
  static PictureSource ofBytes(const std::uint8_t* data, std::size_t size);
  // `head` (the first bytes, already read) and the bytes read after it
  // from `fd` to its end, at most `maxBytes` in all. False when there are
  // more than that (`tooLong`) or reading fails.
  static bool ofStream(std::vector<std::uint8_t> head, int fd, std::uint64_t maxBytes, PictureSource& source,
                       bool& tooLong);

  std::uint64_t size() const { return size_; }
  // Copies up to `count` bytes at `offset` into `buffer`; returns how many.
  std::size_t readAt(std::uint64_t offset, void* buffer, std::size_t count) const;
  // Its first bytes, up to kPictureHeaderBytes.
  std::vector<std::uint8_t> header() const;
  // A device positioned at the start that reads the same bytes (for Qt's
  // readers); it lives as long as the source.
  QIODevice* device();

 private:
  int fd_ = -1;
  const std::uint8_t* data_ = nullptr;
  std::uint64_t size_ = 0;
  std::shared_ptr<std::vector<std::uint8_t>> held_;  // bytes read from a stream
  std::shared_ptr<QIODevice> device_;
};

// Reads up to `count` bytes from `fd` (fewer only at its end); false when
// reading fails.
bool readUpTo(int fd, std::size_t count, std::vector<std::uint8_t>& bytes);

// The kind of picture whose file starts with `header`.
PictureFormat pictureFormatOf(const std::vector<std::uint8_t>& header);

// The size a BMP, PNG or GIF picture declares in its first bytes; false
// for other formats and when the header is too short to say.
bool declaredSize(PictureFormat format, const std::vector<std::uint8_t>& header, std::uint64_t& width,
                  std::uint64_t& height);

// The format's name as Qt's readers know it ("bmp", "png", ...).
const char* qtFormatName(PictureFormat format);
// Its name for the user ("BMP", "PNG", ...).
const char* formatName(PictureFormat format);

// Why content of no format the loader reads is refused: what it looks like
// when it is a kind of picture or file we can tell ("It is an MNG
// animation; ..."), and the formats that are read.
std::string unreadFormatReason(const std::vector<std::uint8_t>& header);

}  // namespace vellomar
