// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/block_table.h"

#include <unistd.h>

#include <algorithm>
#include <new>

#include "engine/positional_read.h"

namespace vellomar {
namespace {

// A read that keeps meeting a block being written gives up after this many
// tries (a block is rewritten once per revision, far apart).
constexpr int kReadAttempts = 16;
// Bytes read at a time into a buffer on the reader's stack.
constexpr std::size_t kReadChunk = 4096;

bool writeAt(int fd, const unsigned char* bytes, std::size_t size, std::int64_t offset) {
  while (size > 0) {
    const ssize_t put = ::pwrite(fd, bytes, size, static_cast<off_t>(offset));
    if (put <= 0) return false;
    bytes += put;
    size -= static_cast<std::size_t>(put);
    offset += put;
  }
  return true;
}

}  // namespace

BlockTable::~BlockTable() {
  if (fd_ >= 0) ::close(fd_);
}

ResultCode BlockTable::make(const BlockLayout& layout, SampleEncoding encoding, int fd) {
  if (fd_ >= 0) ::close(fd_);
  fd_ = fd;
  layout_ = layout;
  encoding_ = encoding;
  frameBytes_ = static_cast<std::size_t>(bytesPerSample(encoding) * layout.channels);
  words_.reset(new (std::nothrow) std::atomic<std::uint32_t>[static_cast<std::size_t>(std::max<std::int64_t>(
      layout.blocks, 1))]);
  if (!words_) return kResultNoMemory;
  for (std::int64_t b = 0; b < layout.blocks; ++b) words_[b].store(0, std::memory_order_relaxed);
  return kResultOk;
}

std::int64_t BlockTable::slotOffset(std::int64_t b, unsigned slot) const {
  // The first slots of all blocks, then the second ones: a sound never
  // revised lies in one run, in order.
  const auto slotBytes = static_cast<std::int64_t>(layout_.blockLength) * static_cast<std::int64_t>(frameBytes_);
  return (static_cast<std::int64_t>(slot) * layout_.blocks + b) * slotBytes;
}

ResultCode BlockTable::store(std::int64_t b, const unsigned char* bytes) {
  const std::uint32_t word = words_[b].load(std::memory_order_relaxed);
  const unsigned slot = word == 0 ? 0u : 1u - (word & 1u);
  const auto size = static_cast<std::size_t>(layout_.frameCount(b)) * frameBytes_;
  return writeAt(fd_, bytes, size, slotOffset(b, slot)) ? kResultOk : kResultWriteFailed;
}

std::uint32_t BlockTable::publish(std::int64_t b) {
  const std::uint32_t word = words_[b].load(std::memory_order_relaxed);
  const unsigned slot = word == 0 ? 0u : 1u - (word & 1u);
  std::uint32_t generation = (word >> 1) + 1;
  if ((generation & 0x7FFFFFFFu) == 0) generation = 1;  // 0 stays "never"
  words_[b].store((generation << 1) | slot, std::memory_order_release);
  return generation;
}

std::uint32_t BlockTable::generation(std::int64_t b) const {
  if (b < 0 || b >= layout_.blocks) return 0;
  return words_[b].load(std::memory_order_acquire) >> 1;
}

std::uint32_t BlockTable::readSpan(std::int64_t b, std::int64_t frame, std::int64_t n, float* out) const {
  unsigned char buffer[kReadChunk];
  const std::size_t chunkFrames = kReadChunk / frameBytes_;
  const std::size_t channels = static_cast<std::size_t>(layout_.channels);
  for (int attempt = 0; attempt < kReadAttempts; ++attempt) {
    const std::uint32_t word = words_[b].load(std::memory_order_acquire);
    if (word == 0) return 0;
    std::int64_t at = slotOffset(b, word & 1u) + frame * static_cast<std::int64_t>(frameBytes_);
    bool ok = true;
    for (std::int64_t done = 0; done < n && ok;) {
      const std::size_t frames = std::min<std::size_t>(chunkFrames, static_cast<std::size_t>(n - done));
      const std::size_t size = frames * frameBytes_;
      ok = readAt(fd_, buffer, size, at);
      if (ok) decodeSamples(buffer, frames * channels, encoding_, out + static_cast<std::size_t>(done) * channels);
      at += static_cast<std::int64_t>(size);
      done += static_cast<std::int64_t>(frames);
    }
    if (!ok) return 0;
    // Unchanged: no writer published over the slot while it was read.
    if (words_[b].load(std::memory_order_seq_cst) == word) return word >> 1;
  }
  return 0;
}

std::int64_t BlockTable::read(std::int64_t first, std::int64_t count, float* out, std::uint32_t* generations,
                              std::size_t maxGenerations) const {
  if (first < 0 || count <= 0 || first >= layout_.frames || !out) return 0;
  count = std::min(count, layout_.frames - first);
  const auto channels = static_cast<std::size_t>(layout_.channels);
  std::int64_t done = 0;
  std::size_t met = 0;
  while (done < count) {
    const std::int64_t frame = first + done;
    const std::int64_t b = layout_.blockOf(frame);
    const std::int64_t inBlock = frame - layout_.firstFrame(b);
    const std::int64_t n = std::min(layout_.frameCount(b) - inBlock, count - done);
    if (n <= 0) break;
    const std::uint32_t generation = readSpan(b, inBlock, n, out + static_cast<std::size_t>(done) * channels);
    if (generation == 0) break;
    if (generations && met < maxGenerations) generations[met] = generation;
    ++met;
    done += n;
  }
  return done;
}

std::uint32_t BlockTable::copyBlock(std::int64_t b, unsigned char* out) const {
  if (b < 0 || b >= layout_.blocks) return 0;
  const auto size = static_cast<std::size_t>(layout_.frameCount(b)) * frameBytes_;
  for (int attempt = 0; attempt < kReadAttempts; ++attempt) {
    const std::uint32_t word = words_[b].load(std::memory_order_acquire);
    if (word == 0) return 0;
    if (size > 0 && !readAt(fd_, out, size, slotOffset(b, word & 1u))) return 0;
    if (words_[b].load(std::memory_order_seq_cst) == word) return word >> 1;
  }
  return 0;
}

}  // namespace vellomar
