// SPDX-License-Identifier: GPL-3.0-or-later
// The frequency and time granularity lists and how a choice in either
// sets the block length N and the sub-blocks per block S. Shared by the
// window's lists and the command line.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vellomar {

struct GranularityLists {
  std::vector<std::string> frequency;  // "%.*f Hz", coarsest last
  std::vector<std::string> time;       // "%.*f sec", finest first
};

// The two lists for a sample rate (for 44100 Hz: 1.35 Hz ... 22 Hz and
// 0.012 sec ... 0.74 sec).
GranularityLists buildGranularityLists(std::uint32_t sampleRate);

// The number a text starts with (decimal, leading blanks skipped, the rest
// ignored; 0 when there is none), read from at most 49 characters, as float.
float leadingNumber(const std::string& text);

// Index of the first entry e of `list` with 0.83 e < v < 1.2 e, or -1.
int matchListEntry(const std::vector<std::string>& list, float v);

// matchListEntry with v = sampleRate / blockLength for the frequency list
// and v = blockLength / (subBlocks * sampleRate) for the time list.
int matchFrequencyEntry(const std::vector<std::string>& list, std::uint32_t sampleRate, std::int32_t blockLength);
int matchTimeEntry(const std::vector<std::string>& list, std::uint32_t sampleRate, std::int32_t blockLength,
                   std::int32_t subBlocks);

// Block length for a frequency granularity of `hz`: the smallest power of
// two not below 0.7 * sampleRate / hz, at least 1.
std::int32_t blockLengthForFrequency(float hz, std::uint32_t sampleRate);

// Recomputes S (and, when allowed, N) for a time granularity of `seconds`.
// Returns false when N is not positive or halving it would reach 0
// (N and S are then left as far as they got).
bool deriveSubBlocks(float seconds, std::uint32_t sampleRate, std::int32_t& blockLength, std::int32_t& subBlocks,
                     bool mayChangeBlockLength);

// A frequency granularity of `hz` chosen while the time list shows
// `shownSeconds`: N from hz, then S for that time granularity with N kept
// (S = 1 or 16 at the ends). False as deriveSubBlocks.
bool applyFrequencyGranularity(float hz, float shownSeconds, std::uint32_t sampleRate, std::int32_t& blockLength,
                               std::int32_t& subBlocks);

}  // namespace vellomar
