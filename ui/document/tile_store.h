// SPDX-License-Identifier: GPL-3.0-or-later
// What a command changed, kept tile by tile as the other state of those
// pixels: the state before the command while it is applied, the state after
// it while it is undone. Undo and redo both exchange the kept tiles with
// the picture's, so a command holds one copy of what it changed, never two.
//
// While a command is being made (a drag) the tiles are kept as they are;
// once it is done they are packed (a tile all of one colour, as a drawing
// on a blank picture mostly has, is kept as that colour alone), and the
// history may move them out of memory into its file (HistoryMemory).
// Nothing is compressed: undo and redo only copy bytes.
//
// A store whose tiles cover most of the picture (half its area or more,
// tiles of one colour included) keeps it whole instead: the other state of
// every plane, the picture's own bytes where no tile is kept. Undo and redo
// then swap the planes with the picture's, whatever the size, without
// copying or writing a byte. Such a store takes the picture's bytes, at
// most twice what its tiles take unpacked (a fill of a blank picture too:
// a 4000 x 4000 one keeps 64 MB rather than a colour a tile); the history
// counts them against its budget like any other, and moves the least
// recently used to its file beyond it.
#pragma once

#include <QByteArray>
#include <cstdint>
#include <memory>
#include <vector>

#include "ui/document/picture_planes.h"
#include "ui/document/row_spans.h"

namespace vellomar {

class TileStore {
 public:
  static constexpr std::uint32_t kTileSide = 64;

  TileStore() = default;
  TileStore(const TileStore&) = delete;
  TileStore& operator=(const TileStore&) = delete;

  // Keeps the tiles of `picture` that meet `rect` and are not kept yet, as
  // they are now: call before changing pixels there.
  void capture(const PictureBitmap& picture, const PixelRect& rect);
  // Whether pixel (x, y) lies in a kept tile.
  bool holds(std::int64_t x, std::int64_t y) const;
  // The kept colour of pixel (x, y), or the picture's where its tile is not
  // kept (it has not changed then). Only while the store is unpacked.
  Rgb keptOr(const PictureBitmap& picture, std::int64_t x, std::int64_t y) const;

  // Writes the kept tiles back into the picture and keeps them: a drag
  // that draws its shape anew starts from the state before it.
  void restore(PictureBitmap& picture) const;
  // Exchanges the kept tiles with the picture's (undo, redo); the store is
  // packed afterwards.
  void exchange(PictureBitmap& picture);

  // Writes the kept tiles that meet `rect` back into the picture.
  void restore(PictureBitmap& picture, const PixelRect& rect) const;

  // Takes over the tiles of `later` (a change made after this one) that
  // this store does not keep: together they keep the state before both.
  // Both unpacked.
  void absorb(TileStore& later, const PictureBitmap& picture);

  // Keeps the tiles of one colour as that colour; unpack() reverses it
  // (and keeps tiles again after whole planes).
  void pack();
  void unpack();
  bool packed() const { return packed_; }
  // Packs, and keeps the planes of `picture` (as it is now, its kept
  // tiles put back) whole when the tiles cover half its area or more.
  void settle(const PictureBitmap& picture);
  bool whole() const { return whole_ != nullptr; }

  // Moves the packed tiles to the end of file `fd` (at `end`, which moves
  // on) and lets go of their memory; recall() reads them back. False when
  // the file refuses (the tiles stay in memory then).
  bool spill(int fd, std::int64_t& end);
  bool recall(int fd);
  bool spilled() const { return spilled_; }

  bool empty() const { return tiles_.empty(); }
  // Bytes held in memory.
  std::uint64_t bytes() const;
  // The picture rows the kept tiles cover, and the rect around them.
  RowSpans rows() const;
  PixelRect bounds() const;
  // The kept tiles as rects, top to bottom: each run of side-by-side
  // tiles in a row of tiles is one rect, and nothing between two runs is
  // in any.
  std::vector<PixelRect> areas() const;

 private:
  struct Tile {
    std::uint32_t x0 = 0, y0 = 0, w = 0, h = 0;
    QByteArray data;  // red, green, blue, brightness planes of w x h, rows top first; 4 bytes when `uniform`
    bool uniform = false;
    std::int64_t fileOffset = -1;
    std::int64_t fileSize = 0;
  };
  static QByteArray expanded(const Tile& t);
  Tile* tileAt(std::int64_t x, std::int64_t y);
  const Tile* tileAt(std::int64_t x, std::int64_t y) const;
  void index(const PictureBitmap& picture);
  // Keeps tile `t` as its colour when it is one colour.
  static void compact(Tile& t);
  void makeWhole(const PictureBitmap& picture);
  void leaveWhole();

  std::vector<Tile> tiles_;
  // While unpacked: tile number (row of tiles * tilesAcross_ + column) to
  // its place in tiles_ + 1, 0 when not kept.
  std::vector<std::uint32_t> index_;
  std::uint32_t tilesAcross_ = 0;
  // Whole planes (their tiles then keep no bytes), and where they went in
  // the file when spilled.
  std::unique_ptr<PictureBitmap> whole_;
  std::int64_t wholeOffset_ = -1;
  bool packed_ = false;
  bool spilled_ = false;
};

}  // namespace vellomar
