// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/picture_bytes.h"

#include <algorithm>

namespace vellomar::test {

std::vector<std::uint8_t> gifBytes(int width, int height, const std::vector<QRgb>& palette,
                                   const std::vector<std::uint8_t>& indices, int screenWidth, int screenHeight) {
  std::vector<std::uint8_t> b;
  auto put16 = [&](int v) {
    b.push_back(static_cast<std::uint8_t>(v));
    b.push_back(static_cast<std::uint8_t>(v >> 8));
  };
  for (char c : std::string("GIF89a")) b.push_back(static_cast<std::uint8_t>(c));
  put16(screenWidth >= 0 ? screenWidth : width);
  put16(screenHeight >= 0 ? screenHeight : height);
  b.push_back(0xF7);  // global table of 256 entries
  b.push_back(0);
  b.push_back(0);
  for (int i = 0; i < 256; ++i) {
    const QRgb c = i < static_cast<int>(palette.size()) ? palette[i] : 0;
    b.push_back(static_cast<std::uint8_t>(qRed(c)));
    b.push_back(static_cast<std::uint8_t>(qGreen(c)));
    b.push_back(static_cast<std::uint8_t>(qBlue(c)));
  }
  b.push_back(0x2C);
  put16(0);
  put16(0);
  put16(width);
  put16(height);
  b.push_back(0);
  b.push_back(8);  // minimum code size

  std::vector<std::uint8_t> data;
  std::uint32_t bits = 0;
  int count = 0;
  auto code = [&](std::uint32_t c) {
    bits |= c << count;
    count += 9;
    while (count >= 8) {
      data.push_back(static_cast<std::uint8_t>(bits));
      bits >>= 8;
      count -= 8;
    }
  };
  for (std::size_t i = 0; i < indices.size(); ++i) {
    if (i % 250 == 0) code(256);
    code(indices[i]);
  }
  code(257);
  if (count > 0) data.push_back(static_cast<std::uint8_t>(bits));
  for (std::size_t i = 0; i < data.size(); i += 255) {
    const std::size_t n = std::min<std::size_t>(255, data.size() - i);
    b.push_back(static_cast<std::uint8_t>(n));
    b.insert(b.end(), data.begin() + static_cast<std::ptrdiff_t>(i), data.begin() + static_cast<std::ptrdiff_t>(i + n));
  }
  b.push_back(0);
  b.push_back(0x3B);
  return b;
}

std::vector<std::uint8_t> bmpHeader(std::int32_t w, std::int32_t h) {
  std::vector<std::uint8_t> b = {'B', 'M'};
  auto put32 = [&](std::uint32_t v) {
    for (int i = 0; i < 4; ++i) b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
  };
  auto put16 = [&](std::uint16_t v) {
    b.push_back(static_cast<std::uint8_t>(v));
    b.push_back(static_cast<std::uint8_t>(v >> 8));
  };
  put32(54 + 4);
  put32(0);
  put32(54);
  put32(40);
  put32(static_cast<std::uint32_t>(w));
  put32(static_cast<std::uint32_t>(h));
  put16(1);
  put16(24);
  put32(0);
  put32(0);
  put32(2835);
  put32(2835);
  put32(0);
  put32(0);
  put32(0);
  return b;
}

std::vector<std::uint8_t> pngChunk(const char* type, const std::vector<std::uint8_t>& data) {
  std::vector<std::uint8_t> body(type, type + 4);
  body.insert(body.end(), data.begin(), data.end());
  std::uint32_t crc = 0xFFFFFFFFu;
  for (std::uint8_t byte : body) {
    crc ^= byte;
    for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  crc ^= 0xFFFFFFFFu;
  std::vector<std::uint8_t> b;
  const auto length = static_cast<std::uint32_t>(data.size());
  for (int i = 3; i >= 0; --i) b.push_back(static_cast<std::uint8_t>(length >> (8 * i)));
  b.insert(b.end(), body.begin(), body.end());
  for (int i = 3; i >= 0; --i) b.push_back(static_cast<std::uint8_t>(crc >> (8 * i)));
  return b;
}

std::vector<std::uint8_t> pngHeader(std::uint32_t w, std::uint32_t h) {
  std::vector<std::uint8_t> header;
  for (std::uint32_t v : {w, h}) {
    for (int i = 3; i >= 0; --i) header.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
  }
  for (std::uint8_t v : {8, 0, 0, 0, 0}) header.push_back(v);
  std::vector<std::uint8_t> b = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  for (const auto& chunk : {pngChunk("IHDR", header), pngChunk("IDAT", {0x78, 0x9C, 0x63, 0, 0, 0, 1, 0, 1}),
                            pngChunk("IEND", {})}) {
    b.insert(b.end(), chunk.begin(), chunk.end());
  }
  return b;
}

std::vector<std::uint8_t> jpegHeader(std::uint16_t w, std::uint16_t h) {
  std::vector<std::uint8_t> b = {0xFF, 0xD8};
  // One quantisation table of ones.
  const std::vector<std::uint8_t> dqt = {0xFF, 0xDB, 0x00, 0x43, 0x00};
  b.insert(b.end(), dqt.begin(), dqt.end());
  b.insert(b.end(), 64, 1);
  // Baseline frame: 8 bits, h lines, w columns, one component.
  const std::vector<std::uint8_t> sof = {0xFF, 0xC0, 0x00, 0x0B, 8,    static_cast<std::uint8_t>(h >> 8),
                                         static_cast<std::uint8_t>(h), static_cast<std::uint8_t>(w >> 8),
                                         static_cast<std::uint8_t>(w), 1,    1,    0x11, 0};
  b.insert(b.end(), sof.begin(), sof.end());
  // The scan, with the decoder's standard Huffman tables, then a few bytes.
  const std::vector<std::uint8_t> sos = {0xFF, 0xDA, 0x00, 0x08, 1, 1, 0x00, 0, 63, 0, 0, 0, 0, 0, 0xFF, 0xD9};
  b.insert(b.end(), sos.begin(), sos.end());
  return b;
}

std::vector<std::uint8_t> mngBytes(std::uint32_t w, std::uint32_t h) {
  std::vector<std::uint8_t> b = {0x8A, 'M', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  std::vector<std::uint8_t> header;
  for (std::uint32_t v : {w, h, 1u, 0u, 0u, 0u, 1u}) {
    for (int i = 3; i >= 0; --i) header.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
  }
  for (const auto& chunk : {pngChunk("MHDR", header), pngChunk("MEND", {})}) b.insert(b.end(), chunk.begin(), chunk.end());
  return b;
}

std::vector<std::uint8_t> tiffBytes(std::uint32_t w, std::uint32_t h, int samples, bool alpha,
                                    const std::vector<std::uint8_t>& data, std::uint32_t tileSide) {
  struct Entry {
    std::uint16_t tag;
    std::uint16_t type;  // 3 SHORT, 4 LONG
    std::vector<std::uint32_t> values;
  };
  const auto count = static_cast<std::uint32_t>(samples);
  std::vector<Entry> entries = {
      {256, 4, {w}},
      {257, 4, {h}},
      {258, 3, std::vector<std::uint32_t>(count, 8)},
      {259, 3, {1}},
      {262, 3, {samples >= 3 ? 2u : 1u}},
  };
  // The data's offset is known once the directory's size is; 0 for now.
  if (tileSide == 0) entries.push_back({273, 4, {0}});
  entries.push_back({277, 3, {count}});
  if (tileSide == 0) {
    entries.push_back({278, 4, {h}});
    entries.push_back({279, 4, {static_cast<std::uint32_t>(data.size())}});
  }
  entries.push_back({284, 3, {1}});
  if (tileSide > 0) {
    entries.push_back({322, 4, {tileSide}});
    entries.push_back({323, 4, {tileSide}});
    entries.push_back({324, 4, {0}});
    entries.push_back({325, 4, {static_cast<std::uint32_t>(data.size())}});
  }
  if (alpha) entries.push_back({338, 3, {2}});

  std::vector<std::uint8_t> b = {'I', 'I', 42, 0, 8, 0, 0, 0};
  auto put16 = [](std::vector<std::uint8_t>& to, std::uint32_t v) {
    to.push_back(static_cast<std::uint8_t>(v));
    to.push_back(static_cast<std::uint8_t>(v >> 8));
  };
  auto put32 = [&](std::vector<std::uint8_t>& to, std::uint32_t v) {
    put16(to, v & 0xFFFF);
    put16(to, v >> 16);
  };
  const std::uint32_t directoryEnd = 8 + 2 + 12 * static_cast<std::uint32_t>(entries.size()) + 4;
  std::vector<std::uint8_t> outside;  // values longer than four bytes
  const std::uint32_t dataOffset = directoryEnd + (samples > 2 ? 2 * count : 0);
  put16(b, static_cast<std::uint32_t>(entries.size()));
  for (Entry& e : entries) {
    if (e.tag == 273 || e.tag == 324) e.values = {dataOffset};
    put16(b, e.tag);
    put16(b, e.type);
    put32(b, static_cast<std::uint32_t>(e.values.size()));
    const std::size_t bytes = e.values.size() * (e.type == 3 ? 2 : 4);
    std::vector<std::uint8_t> value;
    for (std::uint32_t v : e.values) (e.type == 3 ? put16(value, v) : put32(value, v));
    if (bytes <= 4) {
      value.resize(4, 0);
      b.insert(b.end(), value.begin(), value.end());
    } else {
      put32(b, directoryEnd + static_cast<std::uint32_t>(outside.size()));
      outside.insert(outside.end(), value.begin(), value.end());
    }
  }
  put32(b, 0);  // no next directory
  b.insert(b.end(), outside.begin(), outside.end());
  b.insert(b.end(), data.begin(), data.end());
  return b;
}

}  // namespace vellomar::test
