// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/granularity.h"

#include <cstdio>
#include <cstdlib>

namespace vellomar {
namespace {

constexpr float kTolerance = 0.7f;

std::string format(const char* fmt, int digits, float value) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, fmt, digits, static_cast<double>(value));
  return buffer;
}

std::int32_t powerOfTwoNotBelow(float value) {
  std::int32_t p = 1;
  while (static_cast<float>(p) < value && p < (1 << 30)) p *= 2;
  return p;
}

}  // namespace

GranularityLists buildGranularityLists(std::uint32_t sampleRate) {
  GranularityLists lists;
  float f = static_cast<float>(sampleRate) / 1048576.0f;
  float t0 = 0.0f;
  while (f <= 40.0f) {
    if (f >= 1.0f) {
      const double fd = f;
      const int digits = fd >= 19.9 ? 0 : (fd >= 1.99 ? 1 : 2);
      lists.frequency.push_back(format("%.*f Hz", digits, f));
    }
    t0 = 1.0f / f / 16.0f;
    f = 2.0f * f;
  }
  for (float t = t0; t <= 1.0f; t = 2.0f * t) {
    if (t >= 0.006f) lists.time.push_back(format("%.*f sec", static_cast<double>(t) < 0.199 ? 3 : 2, t));
  }
  return lists;
}

float leadingNumber(const std::string& text) {
  const std::string head = text.substr(0, 49);
  return static_cast<float>(std::strtod(head.c_str(), nullptr));
}

int matchListEntry(const std::vector<std::string>& list, float v) {
  for (std::size_t i = 0; i < list.size(); ++i) {
    const float e = leadingNumber(list[i]);
    if (e * 1.2f > v && e * 0.83f < v) return static_cast<int>(i);
  }
  return -1;
}

int matchFrequencyEntry(const std::vector<std::string>& list, std::uint32_t sampleRate, std::int32_t blockLength) {
  if (blockLength <= 0) return -1;
  return matchListEntry(list, static_cast<float>(sampleRate) / static_cast<float>(blockLength));
}

int matchTimeEntry(const std::vector<std::string>& list, std::uint32_t sampleRate, std::int32_t blockLength,
                   std::int32_t subBlocks) {
  if (subBlocks <= 0) return -1;
  const float v = static_cast<float>(blockLength) /
                  (static_cast<float>(subBlocks) * static_cast<float>(sampleRate));
  return matchListEntry(list, v);
}

std::int32_t blockLengthForFrequency(float hz, std::uint32_t sampleRate) {
  const float ratio = static_cast<float>(sampleRate) / hz;
  const float m = kTolerance * ratio;
  return powerOfTwoNotBelow(m);
}

bool deriveSubBlocks(float seconds, std::uint32_t sampleRate, std::int32_t& blockLength, std::int32_t& subBlocks,
                     bool mayChangeBlockLength) {
  if (blockLength <= 0) return false;
  const float r = static_cast<float>(sampleRate) * seconds;
  if (!(r > 0.0f)) return false;  // no time given: no hop length to aim at
  auto hopsPerBlock = [&] { return static_cast<float>(blockLength) / r; };
  float k = hopsPerBlock();
  if (k < kTolerance) {
    if (!mayChangeBlockLength) {
      subBlocks = 1;
      return true;
    }
    while (k < kTolerance && blockLength < (1 << 30)) {
      blockLength *= 2;
      k = hopsPerBlock();
    }
  }
  if (static_cast<std::int64_t>(kTolerance * k) > 16) {
    if (!mayChangeBlockLength) {
      subBlocks = 16;
      return true;
    }
    while (static_cast<std::int64_t>(kTolerance * k) > 16) {
      blockLength >>= 1;
      if (blockLength == 0) return false;
      k = hopsPerBlock();
    }
  }
  subBlocks = powerOfTwoNotBelow(kTolerance * k);
  return true;
}

bool applyFrequencyGranularity(float hz, float shownSeconds, std::uint32_t sampleRate, std::int32_t& blockLength,
                               std::int32_t& subBlocks) {
  blockLength = blockLengthForFrequency(hz, sampleRate);
  return deriveSubBlocks(shownSeconds, sampleRate, blockLength, subBlocks, false);
}

}  // namespace vellomar
