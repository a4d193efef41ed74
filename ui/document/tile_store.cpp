// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/document/tile_store.h"

#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <new>

namespace vellomar {

namespace {

// The planes a tile keeps, in this order: red, green, blue and the
// brightness derived from them (kept too, so that undo and redo only move
// bytes).
constexpr std::size_t kPlanes = 4;

std::uint8_t* planeOf(PictureBitmap& picture, std::size_t c) {
  switch (c) {
    case 0: return picture.red.data();
    case 1: return picture.green.data();
    case 2: return picture.blue.data();
    default: return picture.pixels.data();
  }
}

std::array<std::vector<std::uint8_t>*, kPlanes> planesOf(PictureBitmap& picture) {
  return {&picture.red, &picture.green, &picture.blue, &picture.pixels};
}

// Writes one tile's kept planes into the picture (`swapped` null) or
// exchanges them with the picture's (`swapped` the same bytes, written
// with the picture's).
void putTile(PictureBitmap& picture, std::uint32_t x0, std::uint32_t y0, std::uint32_t w, std::uint32_t h,
             const std::uint8_t* kept, std::uint8_t* swapped) {
  const std::size_t plane = static_cast<std::size_t>(w) * h;
  std::uint8_t held[TileStore::kTileSide * TileStore::kTileSide];
  for (std::size_t c = 0; c < kPlanes; ++c) {
    std::uint8_t* base = planeOf(picture, c);
    std::uint8_t* mine = swapped != nullptr ? swapped + c * plane : nullptr;
    // An exchange goes through a copy of the picture's bytes: three plain
    // copies are faster than swapping byte by byte.
    if (mine != nullptr) {
      for (std::uint32_t y = 0; y < h; ++y) std::memcpy(held + y * w, base + offsetOf(picture, x0, y0 + y), w);
    }
    const std::uint8_t* from = mine != nullptr ? mine : kept + c * plane;
    for (std::uint32_t y = 0; y < h; ++y) std::memcpy(base + offsetOf(picture, x0, y0 + y), from + static_cast<std::size_t>(y) * w, w);
    if (mine != nullptr) std::memcpy(mine, held, plane);
  }
}

// The planes of the tile at (x0, y0), w x h, one after the other.
QByteArray grabTile(const PictureBitmap& picture, std::uint32_t x0, std::uint32_t y0, std::uint32_t w,
                    std::uint32_t h) {
  const std::size_t plane = static_cast<std::size_t>(w) * h;
  QByteArray data(static_cast<qsizetype>(kPlanes * plane), Qt::Uninitialized);
  auto* out = reinterpret_cast<std::uint8_t*>(data.data());
  for (std::size_t c = 0; c < kPlanes; ++c) {
    const std::uint8_t* base = planeOf(const_cast<PictureBitmap&>(picture), c);
    for (std::uint32_t y = 0; y < h; ++y) {
      std::memcpy(out + c * plane + static_cast<std::size_t>(y) * w, base + offsetOf(picture, x0, y0 + y), w);
    }
  }
  return data;
}

// The colour of the picture's tile at (x0, y0), w x h, as kept for a tile
// of one colour; empty when it has more than one.
QByteArray colourOfTile(const PictureBitmap& picture, std::uint32_t x0, std::uint32_t y0, std::uint32_t w,
                        std::uint32_t h) {
  QByteArray colour(static_cast<qsizetype>(kPlanes), Qt::Uninitialized);
  for (std::size_t c = 0; c < kPlanes; ++c) {
    const std::uint8_t* base = planeOf(const_cast<PictureBitmap&>(picture), c);
    const std::uint8_t first = base[offsetOf(picture, x0, y0)];
    for (std::uint32_t y = 0; y < h; ++y) {
      const std::uint8_t* row = base + offsetOf(picture, x0, y0 + y);
      if (!std::all_of(row, row + w, [first](std::uint8_t v) { return v == first; })) return QByteArray();
    }
    colour[static_cast<qsizetype>(c)] = static_cast<char>(first);
  }
  return colour;
}

bool writeAt(int fd, const char* data, std::size_t size, std::int64_t at) {
  for (std::size_t done = 0; done < size;) {
    const ssize_t n = ::pwrite(fd, data + done, size - done, static_cast<off_t>(at + static_cast<std::int64_t>(done)));
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

bool readAt(int fd, char* data, std::size_t size, std::int64_t at) {
  for (std::size_t done = 0; done < size;) {
    const ssize_t n = ::pread(fd, data + done, size - done, static_cast<off_t>(at + static_cast<std::int64_t>(done)));
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace

QByteArray TileStore::expanded(const Tile& t) {
  const auto plane = static_cast<qsizetype>(t.w) * t.h;
  QByteArray raw(static_cast<qsizetype>(kPlanes) * plane, Qt::Uninitialized);
  for (qsizetype c = 0; c < static_cast<qsizetype>(kPlanes); ++c) {
    std::memset(raw.data() + c * plane, static_cast<unsigned char>(t.data[c]), static_cast<std::size_t>(plane));
  }
  return raw;
}

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
      t.data = grabTile(picture, t.x0, t.y0, t.w, t.h);
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
    const PixelRect tile{t.x0, t.y0, t.x0 + t.w, t.y0 + t.h};
    if (tile.intersected(rect).empty()) continue;
    if (whole_) {
      copyRect(*whole_, picture, tile);
      continue;
    }
    const QByteArray raw = t.uniform ? expanded(t) : t.data;
    putTile(picture, t.x0, t.y0, t.w, t.h, reinterpret_cast<const std::uint8_t*>(raw.constData()), nullptr);
  }
}

void TileStore::exchange(PictureBitmap& picture) {
  if (whole_ && whole_->width == picture.width && whole_->height == picture.height) {
    picture.red.swap(whole_->red);
    picture.green.swap(whole_->green);
    picture.blue.swap(whole_->blue);
    picture.pixels.swap(whole_->pixels);
    return;
  }
  if (spilled_ || whole_) return;  // recalled first; a whole store is of this picture's size
  // Packed as it goes: a tile of one colour is written as that colour, and
  // what it takes from the picture is kept as one colour when it is one.
  for (Tile& t : tiles_) {
    if (t.uniform) {
      const QByteArray colour = t.data;
      if (QByteArray own = colourOfTile(picture, t.x0, t.y0, t.w, t.h); !own.isEmpty()) {
        t.data = std::move(own);
      } else {
        t.data = grabTile(picture, t.x0, t.y0, t.w, t.h);
        t.uniform = false;
      }
      for (std::size_t c = 0; c < kPlanes; ++c) {
        std::uint8_t* base = planeOf(picture, c);
        const auto value = static_cast<unsigned char>(colour[static_cast<qsizetype>(c)]);
        for (std::uint32_t y = 0; y < t.h; ++y) std::memset(base + offsetOf(picture, t.x0, t.y0 + y), value, t.w);
      }
    } else {
      auto* data = reinterpret_cast<std::uint8_t*>(t.data.data());
      putTile(picture, t.x0, t.y0, t.w, t.h, data, data);
    }
    compact(t);
  }
  packed_ = true;
  index_.clear();
  tilesAcross_ = 0;
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

void TileStore::compact(Tile& t) {
  if (t.uniform) return;
  const std::size_t plane = static_cast<std::size_t>(t.w) * t.h;
  const auto* d = reinterpret_cast<const std::uint8_t*>(t.data.constData());
  for (std::size_t c = 0; c < kPlanes; ++c) {
    const std::uint8_t* p = d + c * plane;
    if (!std::all_of(p, p + plane, [first = p[0]](std::uint8_t v) { return v == first; })) {
      t.data.squeeze();
      return;
    }
  }
  QByteArray colour(static_cast<qsizetype>(kPlanes), Qt::Uninitialized);
  for (std::size_t c = 0; c < kPlanes; ++c) colour[static_cast<qsizetype>(c)] = static_cast<char>(d[c * plane]);
  t.data = std::move(colour);
  t.uniform = true;
}

void TileStore::pack() {
  if (packed_ || spilled_ || whole_) return;
  for (Tile& t : tiles_) compact(t);
  packed_ = true;
  index_.clear();
  index_.shrink_to_fit();
  tilesAcross_ = 0;
}

void TileStore::unpack() {
  if (spilled_) return;  // recall first
  if (whole_) leaveWhole();
  if (!packed_) return;
  for (Tile& t : tiles_) {
    if (!t.uniform) continue;
    t.data = expanded(t);
    t.uniform = false;
  }
  packed_ = false;
}

void TileStore::settle(const PictureBitmap& picture) {
  pack();
  if (whole_ || spilled_ || tiles_.empty()) return;
  // The area the tiles cover, one-colour tiles included: a change of most
  // of the picture is swapped on undo, never written out tile by tile.
  std::uint64_t covered = 0;
  for (const Tile& t : tiles_) covered += static_cast<std::uint64_t>(kPlanes) * t.w * t.h;
  if (2 * covered >= pictureBytes(picture.width, picture.height)) makeWhole(picture);
}

void TileStore::makeWhole(const PictureBitmap& picture) {
  try {
    whole_ = std::make_unique<PictureBitmap>(picture);
  } catch (const std::bad_alloc&) {
    whole_.reset();  // the tiles stay as they are
    return;
  }
  for (Tile& t : tiles_) {
    const QByteArray raw = t.uniform ? expanded(t) : t.data;
    putTile(*whole_, t.x0, t.y0, t.w, t.h, reinterpret_cast<const std::uint8_t*>(raw.constData()), nullptr);
    t.data = QByteArray();
    t.uniform = false;
  }
}

void TileStore::leaveWhole() {
  for (Tile& t : tiles_) t.data = grabTile(*whole_, t.x0, t.y0, t.w, t.h);
  whole_.reset();
  packed_ = false;
}

bool TileStore::spill(int fd, std::int64_t& end) {
  if (spilled_ || tiles_.empty()) return true;
  pack();
  std::int64_t at = end;
  if (whole_) {
    for (std::size_t c = 0; c < kPlanes; ++c) {
      const std::vector<std::uint8_t>& plane = *planesOf(*whole_)[c];
      if (!writeAt(fd, reinterpret_cast<const char*>(plane.data()), plane.size(), at)) return false;
      at += static_cast<std::int64_t>(plane.size());
    }
    for (std::size_t c = 0; c < kPlanes; ++c) std::vector<std::uint8_t>().swap(*planesOf(*whole_)[c]);
    wholeOffset_ = end;
    end = at;
    spilled_ = true;
    return true;
  }
  for (Tile& t : tiles_) {
    const auto size = static_cast<std::size_t>(t.data.size());
    // Nothing let go yet when the file refuses: every tile is still in memory.
    if (!writeAt(fd, t.data.constData(), size, at)) return false;
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
  if (whole_) {
    const std::size_t size = static_cast<std::size_t>(whole_->stride) * whole_->height;
    std::int64_t at = wholeOffset_;
    try {
      for (std::size_t c = 0; c < kPlanes; ++c) {
        std::vector<std::uint8_t>& plane = *planesOf(*whole_)[c];
        plane.resize(size);
        if (!readAt(fd, reinterpret_cast<char*>(plane.data()), size, at)) return false;
        at += static_cast<std::int64_t>(size);
      }
    } catch (const std::bad_alloc&) {
      return false;
    }
    spilled_ = false;
    return true;
  }
  for (Tile& t : tiles_) {
    QByteArray data(static_cast<qsizetype>(t.fileSize), Qt::Uninitialized);
    if (!readAt(fd, data.data(), static_cast<std::size_t>(t.fileSize), t.fileOffset)) return false;
    t.data = std::move(data);
  }
  spilled_ = false;
  return true;
}

std::uint64_t TileStore::bytes() const {
  std::uint64_t n = index_.capacity() * sizeof(std::uint32_t) + tiles_.capacity() * sizeof(Tile);
  for (const Tile& t : tiles_) n += static_cast<std::uint64_t>(t.data.capacity());
  if (whole_) {
    for (std::size_t c = 0; c < kPlanes; ++c) n += planesOf(*whole_)[c]->capacity();
  }
  return n;
}

RowSpans TileStore::rows() const {
  RowSpans rows;
  for (const Tile& t : tiles_) rows.add(t.y0, t.y0 + t.h);
  return rows;
}

std::vector<PixelRect> TileStore::areas() const {
  // Tiles in reading order; a run of side-by-side tiles in one row of
  // tiles is one rect.
  std::vector<PixelRect> tiles;
  tiles.reserve(tiles_.size());
  for (const Tile& t : tiles_) tiles.push_back({t.x0, t.y0, t.x0 + t.w, t.y0 + t.h});
  std::sort(tiles.begin(), tiles.end(),
            [](const PixelRect& a, const PixelRect& b) { return a.y0 != b.y0 ? a.y0 < b.y0 : a.x0 < b.x0; });
  std::vector<PixelRect> out;
  for (const PixelRect& r : tiles) {
    if (!out.empty() && out.back().y0 == r.y0 && out.back().x1 == r.x0) {
      out.back().x1 = r.x1;
    } else {
      out.push_back(r);
    }
  }
  return out;
}

PixelRect TileStore::bounds() const {
  PixelRect r;
  for (const Tile& t : tiles_) r = r.united({t.x0, t.y0, t.x0 + t.w, t.y0 + t.h});
  return r;
}

}  // namespace vellomar
