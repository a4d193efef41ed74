// SPDX-License-Identifier: GPL-3.0-or-later
// How a render's values become stored samples, and what a render tells of
// its level.
//
// The engine works on a 16-bit scale: a value of +-32768 is full scale.
// Every encoding starts from the same value v (after the master gain):
// - Int16: v clamped to 32767 above (a value that is not a number
//   included) and -32768 below, then v + 0.5 truncated toward zero; two
//   bytes, little-endian. These are the bytes renders have always written.
// - Int24: v * 256 rounded to the nearest integer (halves away from zero),
//   clamped to -8388608 ... 8388607 (a value that is not a number gives
//   8388607); three bytes, little-endian. The engine's precision below the
//   16-bit step is kept.
// - Float32: v / 32768 as an IEEE single, not clamped; four bytes,
//   little-endian. Full scale is +-1.
//
// Level: a sample clips when its value lies outside the 16-bit range
// (below -32768 or above 32767, or is not a number), whatever the
// encoding; the peak is the largest |v|, on the same scale.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vellomar {

enum class SampleEncoding : std::int32_t { Int16 = 0, Int24 = 1, Float32 = 2 };

// Bytes of one stored sample: 2, 3 or 4.
int bytesPerSample(SampleEncoding encoding);

// The clipped samples and the peak of a run of values, or of a whole render.
struct RenderLevels {
  std::uint64_t clippedSamples = 0;
  double peak = 0.0;  // largest |value|, 32768 being full scale

  void add(const RenderLevels& other) {
    clippedSamples += other.clippedSamples;
    if (other.peak > peak) peak = other.peak;
  }
};

// One 16-bit sample from a value, as Int16 stores it.
std::int16_t toOutputSample(double v);

// One 24-bit sample from a value, as Int24 stores it.
std::int32_t toInt24Sample(double v);

// Stores `count` values in `encoding` at `out` (count * bytesPerSample
// bytes) and adds their clips and peak to `levels`.
void encodeSamples(const double* values, std::size_t count, SampleEncoding encoding, unsigned char* out,
                   RenderLevels& levels);

// Reads `count` stored samples of `encoding` as floats, full scale +-1
// (Int16 divided by 32768, Int24 by 8388608, Float32 as stored).
void decodeSamples(const unsigned char* bytes, std::size_t count, SampleEncoding encoding, float* out);

}  // namespace vellomar
