// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/settings.h"

#include <sched.h>

#include <cmath>
#include <thread>

namespace vellomar {

std::uint32_t noiseSampleCount(std::uint32_t sampleRate, float durationSeconds) {
  const float rate = static_cast<float>(sampleRate);
  const double product = static_cast<double>(rate) * static_cast<double>(durationSeconds);
  if (!(product > 0.0)) return 0;
  if (product >= 4294967295.0) return 4294967295u;
  return static_cast<std::uint32_t>(product);
}

std::uint64_t blockCount(std::uint64_t count, std::int32_t n) {
  const auto un = static_cast<std::uint64_t>(n);
  return (count + un / 2 + un - 1) / un;
}

std::uint64_t maxOutputFrames(int) {
  // Past 4 GB a WAV file becomes RF64, so a stereo or 24-bit sound is as
  // long as a mono 16-bit one may be.
  return kMaxOutputSamples;
}

double masterGainFactor(std::int32_t db) {
  return std::exp(static_cast<double>(db) * 0.11512925);
}

std::int32_t clampGainDb(long long db) {
  if (db < kMinGainDb) return kMinGainDb;
  if (db > kMaxGainDb) return kMaxGainDb;
  return static_cast<std::int32_t>(db);
}

std::int32_t roundRangeDb(long long db) {
  // Clamped first, so that no sum below can overflow.
  if (db < kMinRangeDb) return kMinRangeDb;
  if (db > kMaxRangeDb) return kMaxRangeDb;
  const long long rounded = db + 5 - ((db + 5) % 10);
  return static_cast<std::int32_t>(rounded > kMaxRangeDb ? kMaxRangeDb : rounded);
}

bool isPowerOfTwo(std::int64_t v) { return v > 0 && (v & (v - 1)) == 0; }

bool blockSettingsValid(std::int32_t blockLength, std::int32_t subBlocks) {
  return isPowerOfTwo(blockLength) && blockLength >= kMinBlockLength && blockLength <= kMaxBlockLength &&
         isPowerOfTwo(subBlocks) && subBlocks <= kMaxSubBlocks;
}

std::int32_t availableCores() {
  cpu_set_t set;
  CPU_ZERO(&set);
  if (sched_getaffinity(0, sizeof set, &set) == 0) {
    const int count = CPU_COUNT(&set);
    if (count > 0) return count;
  }
  const unsigned hardware = std::thread::hardware_concurrency();
  return hardware > 0 ? static_cast<std::int32_t>(hardware) : 1;
}

}  // namespace vellomar
