// SPDX-License-Identifier: GPL-3.0-or-later
// What the player reads a sound from: frames by position, block by block,
// with a number per block that changes whenever the block's samples do.
//
// The player asks, one audio buffer at a time and on its own audio thread,
// for the frames it is about to hand to the audio output. A source answers
// with what it holds at that moment, so a block that a render has just
// written again is heard from the next buffer on. A frame that does not
// exist yet (its block is still to be rendered) is simply not there: the
// player plays silence in its place and keeps going.
//
// Contract for implementations:
// - channels(), sampleRate(), frameCount() and blockOf() never change
//   over the source's life.
// - read() and generation() may be called on the audio thread while other
//   threads render into the source: they never wait for a lock, a render
//   or a slow device, and never allocate.
// - A block's samples are replaced as a whole: a read never returns part
//   of the old and part of the new samples of one block.
// - A block's generation changes (by any amount) whenever its samples
//   change, including when they first exist, and is read before its
//   samples: whoever sees the old number may see either samples, whoever
//   sees the new number sees the new samples.
#pragma once

#include <cstdint>
#include <string>

namespace vellomar {

class FrameSource {
 public:
  virtual ~FrameSource() = default;

  virtual int channels() const = 0;
  virtual std::uint32_t sampleRate() const = 0;
  // The sound's length: the frames it has when complete.
  virtual std::int64_t frameCount() const = 0;
  // The block that holds frame `frame` (0 ... frameCount() - 1); blocks
  // are runs of frames in order, numbered from 0.
  virtual std::int64_t blockOf(std::int64_t frame) const = 0;

  // Copies frames first ... first + count - 1 into `out` (channels()
  // floats a frame, interleaved, full scale at +-1) as far as they exist
  // from `first` on without a gap, and returns how many it copied, 0 ...
  // count; the rest of `out` is left as it was. Frames at or past
  // frameCount() never exist. A negative result: the source can no longer
  // be read, and failure() says why.
  virtual std::int64_t read(std::int64_t first, std::int64_t count, float* out) = 0;

  // The generation of block `block` (see above).
  virtual std::uint64_t generation(std::int64_t block) const = 0;

  // Why read() failed, in the program's words; empty while it has not.
  // Asked on the user interface thread after the player has stopped.
  virtual std::string failure() const { return {}; }
};

}  // namespace vellomar
