// SPDX-License-Identifier: GPL-3.0-or-later
// Reading a wave's samples by position, so that several threads can read
// one input file at once, each where its work begins.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

namespace vellomar {

// Whether `stream` is a regular file with a position: its samples can then
// be read at any offset, by any number of readers at once.
bool streamReadableByPosition(std::FILE* stream);

// How a wave input stores its samples: unsigned 8-bit, signed 16-bit or
// 32-bit float (1.0 at full scale), little-endian, `channels` to a frame.
struct SampleLayout {
  bool eightBit = false;
  bool float32 = false;
  std::size_t channels = 1;
  std::size_t sampleBytes() const { return float32 ? 4 : eightBit ? 1 : 2; }
  std::size_t frameBytes() const { return sampleBytes() * channels; }
};

// Converts one channel of `count` frames at `raw` (the frame's first
// byte; the channel's sample `channel` samples in) into the engine's units,
// 16-bit full scale: 8-bit v as (v - 128) * 256, a float as v * 32768.
// `out` may overlap `raw` as a block read in place does, where frame i
// lies at or after out + i (each frame is read before its value is
// written).
void samplesToDouble(const unsigned char* raw, std::size_t count, const SampleLayout& layout, std::size_t channel,
                     double* out);

// Reads exactly `size` bytes at `offset` of the file `fd`; false when fewer
// are there (or the read fails).
bool readAt(int fd, void* buffer, std::size_t size, std::int64_t offset);

}  // namespace vellomar
