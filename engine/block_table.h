// SPDX-License-Identifier: GPL-3.0-or-later
// A render's blocks on disk, published for readers on any thread.
//
// Every block has two slots in the working file; a block's word holds its
// generation (how often it has been published, 0 = never) and which slot
// holds its published samples. A writer stores a block's new samples in the
// slot that is not published, then publishes them by one atomic store of
// the word. A reader loads the word, reads that slot, and loads the word
// again: when it changed, the writer may have written over what was read,
// and the reader reads again. So a reader sees either the old samples of a
// block or the new ones, never some of each, and never waits for a writer.
//
// Blocks are written by one thread at a time each (the caller's rule);
// reads may happen on any thread at any time.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "engine/block_renderer.h"
#include "engine/encoding.h"
#include "engine/result_code.h"

namespace vellomar {

class BlockTable {
 public:
  BlockTable() = default;
  ~BlockTable();
  BlockTable(const BlockTable&) = delete;
  BlockTable& operator=(const BlockTable&) = delete;

  // Takes the open file `fd` (closed with the table) for blocks of
  // `layout` stored in `encoding`. Returns 0, or 3 (the descriptor is
  // closed then too).
  ResultCode make(const BlockLayout& layout, SampleEncoding encoding, int fd);

  const BlockLayout& layout() const { return layout_; }
  SampleEncoding encoding() const { return encoding_; }
  std::size_t frameBytes() const { return frameBytes_; }

  // Writer side. Stores block b's frameCount(b) frames of stored samples
  // in its unpublished slot. Returns 0, or 7 when the file cannot take
  // them.
  ResultCode store(std::int64_t b, const unsigned char* bytes);
  // Publishes what store() stored last for block b; returns the block's
  // new generation.
  std::uint32_t publish(std::int64_t b);

  // Reader side, any thread. The generation of block b's published
  // samples: 0 when it has none.
  std::uint32_t generation(std::int64_t b) const;

  // Reads frames first ... first + count - 1 as floats (interleaved,
  // full scale +-1) into `out`, as far as the blocks are published: returns
  // the frames read, up to the first block without samples. When
  // `generations` is given, generations[i] (i < maxGenerations) receives
  // the generation of the samples read from the i-th block the read met.
  std::int64_t read(std::int64_t first, std::int64_t count, float* out, std::uint32_t* generations = nullptr,
                    std::size_t maxGenerations = 0) const;

  // Copies block b's published samples as stored into `out` (frameCount(b)
  // frames); returns their generation, 0 when it has none or the file
  // cannot be read.
  std::uint32_t copyBlock(std::int64_t b, unsigned char* out) const;

 private:
  std::int64_t slotOffset(std::int64_t b, unsigned slot) const;
  // Frames from `frame` of block b, n of them, as floats: the generation
  // read, 0 when none.
  std::uint32_t readSpan(std::int64_t b, std::int64_t frame, std::int64_t n, float* out) const;

  BlockLayout layout_;
  SampleEncoding encoding_ = SampleEncoding::Int16;
  std::size_t frameBytes_ = 0;
  int fd_ = -1;
  // generation << 1 | slot; 0 = never published.
  std::unique_ptr<std::atomic<std::uint32_t>[]> words_;
};

}  // namespace vellomar
