// SPDX-License-Identifier: GPL-3.0-or-later
// The render session's small parts: its dirty-block bits, its shape, the
// job it renders and the rows each block reads.
#include <algorithm>
#include <new>

#include "engine/session_state.h"

namespace vellomar {

bool DirtyBlocks::make(std::int64_t blocks) {
  try {
    bits_.assign(static_cast<std::size_t>((blocks + 63) / 64), 0);
  } catch (const std::bad_alloc&) {
    return false;
  }
  blocks_ = blocks;
  count_ = 0;
  return true;
}

bool DirtyBlocks::test(std::int64_t b) const {
  return (bits_[static_cast<std::size_t>(b / 64)] >> (b % 64)) & 1u;
}

void DirtyBlocks::mark(std::int64_t b) {
  std::uint64_t& word = bits_[static_cast<std::size_t>(b / 64)];
  const std::uint64_t bit = std::uint64_t{1} << (b % 64);
  if (!(word & bit)) {
    word |= bit;
    ++count_;
  }
}

void DirtyBlocks::clear(std::int64_t b) {
  std::uint64_t& word = bits_[static_cast<std::size_t>(b / 64)];
  const std::uint64_t bit = std::uint64_t{1} << (b % 64);
  if (word & bit) {
    word &= ~bit;
    --count_;
  }
}

void DirtyBlocks::markRange(std::int64_t first, std::int64_t end) {
  for (std::int64_t b = std::max<std::int64_t>(first, 0); b < std::min(end, blocks_); ++b) mark(b);
}

void DirtyBlocks::markAll() { markRange(0, blocks_); }

std::int64_t DirtyBlocks::next(std::int64_t from) const {
  if (from < 0) from = 0;
  if (from >= blocks_) return blocks_;
  auto w = static_cast<std::size_t>(from / 64);
  std::uint64_t word = bits_[w] & (~std::uint64_t{0} << (from % 64));
  for (;;) {
    if (word != 0) {
      const std::int64_t b = static_cast<std::int64_t>(w) * 64 + __builtin_ctzll(word);
      return std::min(b, blocks_);
    }
    if (++w >= bits_.size()) return blocks_;
    word = bits_[w];
  }
}

bool DirtyBlocks::take(std::int64_t from, std::int64_t most, std::int64_t& first, std::int64_t& end) {
  if (count_ == 0) return false;
  std::int64_t b = next(from);
  if (b >= blocks_) b = next(0);
  if (b >= blocks_) return false;
  first = end = b;
  while (end < blocks_ && end - first < most && test(end)) clear(end++);
  return true;
}

SessionShape SessionShape::of(const SessionSnapshot& snapshot) {
  SessionShape shape;
  const RenderSettings& s = snapshot.settings;
  shape.frames = snapshot.frames;
  shape.blockLength = s.blockLength;
  shape.subBlocks = s.subBlocksPerBlock;
  shape.stereo = s.stereo;
  shape.wave = s.inputSource == InputSource::WaveFile;
  if (shape.wave) {
    shape.input = snapshot.input.file.get();
    shape.inputOffset = snapshot.input.offset;
    shape.eightBit = snapshot.input.eightBit;
    shape.floatSamples = snapshot.input.floatSamples;
    shape.inputChannels = snapshot.input.channels;
  }
  shape.encoding = snapshot.encoding;
  return shape;
}

void fillJob(RenderJob& job, const SessionSnapshot& snapshot) {
  job.settings = snapshot.settings;
  job.picture = snapshot.picture;
  job.sampleCount = snapshot.frames;
  job.noiseState = snapshot.noiseState;
  job.encoding = snapshot.encoding;
  const bool wave = snapshot.settings.inputSource == InputSource::WaveFile;
  job.input = wave ? snapshot.input.file.get() : nullptr;
  job.inputOffset = wave ? snapshot.input.offset : -1;
  job.input8Bit = wave && snapshot.input.eightBit;
  job.inputFloat = wave && snapshot.input.floatSamples;
  job.inputChannels = wave ? snapshot.input.channels : 1;
}

bool computeBlockRows(const RenderJob& job, const BlockRenderer& renderer, std::vector<RowSpan>& rows) {
  const BlockLayout layout = BlockLayout::of(job);
  try {
    rows.resize(static_cast<std::size_t>(layout.blocks));
  } catch (const std::bad_alloc&) {
    return false;
  }
  for (std::int64_t b = 0; b < layout.blocks; ++b) rows[static_cast<std::size_t>(b)] = renderer.rowsOfBlock(job, b);
  return true;
}

}  // namespace vellomar
