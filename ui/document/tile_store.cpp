// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/document/tile_store.h"

#include <unistd.h>

#include <algorithm>
#include <cstring>

namespace vellomar {

namespace {

constexpr int kCompressionLevel = 1;  // fast: a stroke's tiles are mostly alike

// Writes one tile's kept planes into the picture (`swapped` null) or
// exchanges them with the picture's (`swapped` the same bytes, written
// with the picture's), brightness derived again.
void putTile(PictureBitmap& picture, std::uint32_t x0, std::uint32_t y0, std::uint32_t w, std::uint32_t h,
             const std::uint8_t* kept, std::uint8_t* swapped) {
  const std::size_t plane = static_cast<std::size_t>(w) * h;
  for (std::uint32_t y = 0; y < h; ++y) {
    const std::size_t at = offsetOf(picture, x0, y0 + y);
    const std::size_t in = static_cast<std::size_t>(y) * w;
    std::uint8_t* planes[3] = {picture.red.data() + at, picture.green.data() + at, picture.blue.data() + at};
    for (std::size_t c = 0; c < 3; ++c) {
      if (swapped != nullptr) {
        std::swap_ranges(planes[c], planes[c] + w, swapped + c * plane + in);
      } else {
        std::memcpy(planes[c], kept + c * plane + in, w);
      }
    }
    std::uint8_t* pv = picture.pixels.data() + at;
    for (std::uint32_t x = 0; x < w; ++x) pv[x] = brightnessFast(planes[0][x], planes[1][x], planes[2][x]);
  }
}

}  // namespace

void TileStore::index(const PictureBitmap& picture) {
  if (!index_.empty() || tilesAcross_ != 0) return;
  tilesAcross_ = (picture.width + kTileSide - 1) / kTileSide;
  const std::size_t down = (picture.height + kTileSide - 1) / kTileSide;
  index_.assign(static_cast<std::size_t>(tilesAcross_) * down, 0);
  for (std::size_t i = 0; i < tiles_.size(); ++i) {
    const Tile& t = tiles_[i];
    index_[static_cast<std::size_t>(t.y0 / kTileSide) * tilesAcross_ + t.x0 / kTileSide] = static_cast<std::uint32_t>(i + 1);
  }
}

void TileStore::capture(const PictureBitmap& picture, const PixelRect& wanted) {
  const PixelRect rect = wanted.intersected(boundsOf(picture));
  if (rect.empty()) return;
  unpack();
  index(picture);
  const auto tx0 = static_cast<std::uint32_t>(rect.x0 / kTileSide);
  const auto tx1 = static_cast<std::uint32_t>((rect.x1 - 1) / kTileSide);
  const auto ty0 = static_cast<std::uint32_t>(rect.y0 / kTileSide);
  const auto ty1 = static_cast<std::uint32_t>((rect.y1 - 1) / kTileSide);
  for (std::uint32_t ty = ty0; ty <= ty1; ++ty) {
    for (std::uint32_t tx = tx0; tx <= tx1; ++tx) {
      std::uint32_t& slot = index_[static_cast<std::size_t>(ty) * tilesAcross_ + tx];
      if (slot != 0) continue;
      Tile t;
      t.x0 = tx * kTileSide;
      t.y0 = ty * kTileSide;
      t.w = std::min(kTileSide, picture.width - t.x0);
      t.h = std::min(kTileSide, picture.height - t.y0);
      const std::size_t plane = static_cast<std::size_t>(t.w) * t.h;
      t.data.resize(static_cast<qsizetype>(3 * plane));
      auto* out = reinterpret_cast<std::uint8_t*>(t.data.data());
      for (std::uint32_t y = 0; y < t.h; ++y) {
        const std::size_t at = offsetOf(picture, t.x0, t.y0 + y);
        const std::size_t in = static_cast<std::size_t>(y) * t.w;
        std::memcpy(out + in, picture.red.data() + at, t.w);
        std::memcpy(out + plane + in, picture.green.data() + at, t.w);
        std::memcpy(out + 2 * plane + in, picture.blue.data() + at, t.w);
      }
      tiles_.push_back(std::move(t));
      slot = static_cast<std::uint32_t>(tiles_.size());
    }
  }
}

const TileStore::Tile* TileStore::tileAt(std::int64_t x, std::int64_t y) const {
  if (index_.empty() || x < 0 || y < 0) return nullptr;
  const std::size_t tx = static_cast<std::size_t>(x) / kTileSide;
  const std::size_t n = static_cast<std::size_t>(y) / kTileSide * tilesAcross_ + tx;
  if (tx >= tilesAcross_ || n >= index_.size() || index_[n] == 0) return nullptr;
  return &tiles_[index_[n] - 1];
}

TileStore::Tile* TileStore::tileAt(std::int64_t x, std::int64_t y) {
  return const_cast<Tile*>(static_cast<const TileStore*>(this)->tileAt(x, y));
}

bool TileStore::holds(std::int64_t x, std::int64_t y) const { return tileAt(x, y) != nullptr; }

Rgb TileStore::keptOr(const PictureBitmap& picture, std::int64_t x, std::int64_t y) const {
  const Tile* t = packed_ ? nullptr : tileAt(x, y);
  if (t == nullptr) return colourAt(picture, x, y);
  const std::size_t plane = static_cast<std::size_t>(t->w) * t->h;
  const std::size_t i = static_cast<std::size_t>(y - t->y0) * t->w + static_cast<std::size_t>(x - t->x0);
  const auto* d = reinterpret_cast<const std::uint8_t*>(t->data.constData());
  return {d[i], d[plane + i], d[2 * plane + i]};
}

void TileStore::restore(PictureBitmap& picture) const { restore(picture, boundsOf(picture)); }

void TileStore::restore(PictureBitmap& picture, const PixelRect& rect) const {
  for (const Tile& t : tiles_) {
    if (PixelRect{t.x0, t.y0, t.x0 + t.w, t.y0 + t.h}.intersected(rect).empty()) continue;
    const QByteArray raw = t.compressed ? qUncompress(t.data) : t.data;
    putTile(picture, t.x0, t.y0, t.w, t.h, reinterpret_cast<const std::uint8_t*>(raw.constData()), nullptr);
  }
}

void TileStore::exchange(PictureBitmap& picture) {
  unpack();
  for (Tile& t : tiles_) {
    auto* data = reinterpret_cast<std::uint8_t*>(t.data.data());
    putTile(picture, t.x0, t.y0, t.w, t.h, data, data);
  }
}

void TileStore::absorb(TileStore& later, const PictureBitmap& picture) {
  unpack();
  later.unpack();
  index(picture);
  for (Tile& t : later.tiles_) {
    std::uint32_t& slot = index_[static_cast<std::size_t>(t.y0 / kTileSide) * tilesAcross_ + t.x0 / kTileSide];
    if (slot != 0) continue;
    tiles_.push_back(std::move(t));
    slot = static_cast<std::uint32_t>(tiles_.size());
  }
  later.tiles_.clear();
  later.index_.clear();
  later.tilesAcross_ = 0;
}

void TileStore::pack() {
  if (packed_ || spilled_) return;
  for (Tile& t : tiles_) {
    QByteArray small = qCompress(t.data, kCompressionLevel);
    // Kept raw unless compression saves a tenth: a photograph's tiles
    // barely shrink, and raw tiles undo fastest.
    if (!small.isEmpty() && small.size() < t.data.size() - t.data.size() / 10) {
      t.data = std::move(small);
      t.compressed = true;
    } else {
      t.data.squeeze();
    }
  }
  packed_ = true;
  index_.clear();
  index_.shrink_to_fit();
  tilesAcross_ = 0;
}

void TileStore::unpack() {
  if (spilled_) return;  // recall first
  if (!packed_) return;
  for (Tile& t : tiles_) {
    if (!t.compressed) continue;
    t.data = qUncompress(t.data);
    t.compressed = false;
  }
  packed_ = false;
}

bool TileStore::spill(int fd, std::int64_t& end) {
  if (spilled_ || tiles_.empty()) return true;
  pack();
  std::int64_t at = end;
  for (Tile& t : tiles_) {
    const auto size = static_cast<std::size_t>(t.data.size());
    std::size_t done = 0;
    while (done < size) {
      const ssize_t n = ::pwrite(fd, t.data.constData() + done, size - done, static_cast<off_t>(at + done));
      if (n <= 0) return false;  // nothing let go yet: every tile is still in memory
      done += static_cast<std::size_t>(n);
    }
    t.fileOffset = at;
    t.fileSize = static_cast<std::int64_t>(size);
    at += static_cast<std::int64_t>(size);
  }
  for (Tile& t : tiles_) t.data = QByteArray();
  end = at;
  spilled_ = true;
  return true;
}

bool TileStore::recall(int fd) {
  if (!spilled_) return true;
  for (Tile& t : tiles_) {
    QByteArray data(static_cast<qsizetype>(t.fileSize), Qt::Uninitialized);
    std::size_t done = 0;
    while (done < static_cast<std::size_t>(t.fileSize)) {
      const ssize_t n = ::pread(fd, data.data() + done, static_cast<std::size_t>(t.fileSize) - done,
                                static_cast<off_t>(t.fileOffset + static_cast<std::int64_t>(done)));
      if (n <= 0) return false;
      done += static_cast<std::size_t>(n);
    }
    t.data = std::move(data);
  }
  spilled_ = false;
  return true;
}

std::uint64_t TileStore::bytes() const {
  std::uint64_t n = index_.capacity() * sizeof(std::uint32_t) + tiles_.capacity() * sizeof(Tile);
  for (const Tile& t : tiles_) n += static_cast<std::uint64_t>(t.data.capacity());
  return n;
}

RowSpans TileStore::rows() const {
  RowSpans rows;
  for (const Tile& t : tiles_) rows.add(t.y0, t.y0 + t.h);
  return rows;
}

}  // namespace vellomar
