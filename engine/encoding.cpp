// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/encoding.h"

#include <cmath>
#include <cstring>

namespace vellomar {
namespace {

inline void countLevel(double v, RenderLevels& levels) {
  const double magnitude = std::fabs(v);
  // A value that is not a number fails both tests and counts as clipped.
  if (!(v >= -32768.0 && v <= 32767.0)) ++levels.clippedSamples;
  if (magnitude > levels.peak) levels.peak = magnitude;
}

}  // namespace

int bytesPerSample(SampleEncoding encoding) {
  switch (encoding) {
    case SampleEncoding::Int24:
      return 3;
    case SampleEncoding::Float32:
      return 4;
    case SampleEncoding::Int16:
    default:
      return 2;
  }
}

std::int16_t toOutputSample(double v) {
  // Written so that a value that is not a number fails the first test.
  if (!(v < 32767.0)) {
    v = 32767.0;
  } else if (v <= -32768.0) {
    v = -32768.0;
  }
  return static_cast<std::int16_t>(static_cast<int>(v + 0.5));
}

std::int32_t toInt24Sample(double v) {
  const double scaled = v * 256.0;
  if (!(scaled < 8388607.0)) return 8388607;
  if (scaled <= -8388608.0) return -8388608;
  return static_cast<std::int32_t>(std::round(scaled));
}

void encodeSamples(const double* values, std::size_t count, SampleEncoding encoding, unsigned char* out,
                   RenderLevels& levels) {
  switch (encoding) {
    case SampleEncoding::Int24:
      for (std::size_t i = 0; i < count; ++i, out += 3) {
        countLevel(values[i], levels);
        const auto bits = static_cast<std::uint32_t>(toInt24Sample(values[i]));
        out[0] = static_cast<unsigned char>(bits & 0xFF);
        out[1] = static_cast<unsigned char>((bits >> 8) & 0xFF);
        out[2] = static_cast<unsigned char>((bits >> 16) & 0xFF);
      }
      return;
    case SampleEncoding::Float32:
      for (std::size_t i = 0; i < count; ++i, out += 4) {
        countLevel(values[i], levels);
        const auto f = static_cast<float>(values[i] / 32768.0);
        std::uint32_t bits = 0;
        std::memcpy(&bits, &f, sizeof bits);
        for (int b = 0; b < 4; ++b) out[b] = static_cast<unsigned char>((bits >> (8 * b)) & 0xFF);
      }
      return;
    case SampleEncoding::Int16:
    default:
      for (std::size_t i = 0; i < count; ++i, out += 2) {
        countLevel(values[i], levels);
        const auto bits = static_cast<std::uint16_t>(toOutputSample(values[i]));
        out[0] = static_cast<unsigned char>(bits & 0xFF);
        out[1] = static_cast<unsigned char>(bits >> 8);
      }
      return;
  }
}

void decodeSamples(const unsigned char* bytes, std::size_t count, SampleEncoding encoding, float* out) {
  switch (encoding) {
    case SampleEncoding::Int24:
      for (std::size_t i = 0; i < count; ++i, bytes += 3) {
        std::uint32_t bits = bytes[0] | (bytes[1] << 8) | (static_cast<std::uint32_t>(bytes[2]) << 16);
        if (bits & 0x800000u) bits |= 0xFF000000u;
        out[i] = static_cast<float>(static_cast<std::int32_t>(bits)) * (1.0f / 8388608.0f);
      }
      return;
    case SampleEncoding::Float32:
      for (std::size_t i = 0; i < count; ++i, bytes += 4) {
        const std::uint32_t bits = bytes[0] | (bytes[1] << 8) | (bytes[2] << 16) |
                                   (static_cast<std::uint32_t>(bytes[3]) << 24);
        std::memcpy(out + i, &bits, sizeof bits);
      }
      return;
    case SampleEncoding::Int16:
    default:
      for (std::size_t i = 0; i < count; ++i, bytes += 2) {
        const auto bits = static_cast<std::uint16_t>(bytes[0] | (bytes[1] << 8));
        out[i] = static_cast<float>(static_cast<std::int16_t>(bits)) * (1.0f / 32768.0f);
      }
      return;
  }
}

}  // namespace vellomar
