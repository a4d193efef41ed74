// SPDX-License-Identifier: GPL-3.0-or-later
// WAV files: the input reader and the output writer. Neither shows
// anything: a refusal comes back with the program's own words, for the
// caller to show.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "files/messages.h"

namespace vellomar {

struct WaveInfo {
  std::uint32_t sampleCount = 0;
  std::int32_t channels = 0;
  std::int32_t bitsPerSample = 0;
  std::uint32_t sampleRate = 0;
  bool rejected = false;
};

// Whether the data of `info` fits the 32-bit sizes of a WAV header; when it
// does not, `refusal` says so. Touches no file.
bool waveDataFits(const WaveInfo& info, Refusal& refusal);

// Whether `durationSeconds` of noise output fit a 16-bit WAV of `channels`
// channels at `sampleRate`; when not, `refusal` says so with the true count
// (formed in double, so a count past 32 bits is told as it is). Touches no
// file.
bool noiseRenderFits(std::uint32_t sampleRate, float durationSeconds, int channels, Refusal& refusal);

// Writes the complete 44-byte header of `info` and hands it to the file.
// False, with the write-failure refusal, when any of it cannot be written.
bool writeWaveHeader(std::FILE* stream, const WaveInfo& info, Refusal& refusal);

// Opens `path` for writing raw bytes in place, only where nothing can be
// lost by it: a name with no file yet (created here, exclusively), or an
// existing device or pipe. An existing regular file is never opened
// (errno EEXIST): OutputFile replaces such a file once the new one is
// complete. A pipe that no one reads is refused at once (errno ENXIO)
// instead of holding up the caller. `created` tells whether this run made
// the file (and so may remove it again).
std::FILE* openInPlace(const std::string& path, bool& created);

// Creates `path` in place (see openInPlace: a new file, a device or a
// pipe, never over an existing file) and writes the complete 44-byte
// header. Returns the open stream positioned after it, or nullptr with
// `refusal`.
// Refuses, before touching any file, data that a WAV header cannot describe
// and a `rejected` info (internal error 5).
std::FILE* createOutputWave(const std::string& path, const WaveInfo& info, Refusal& refusal);

// Walks chunks from the current position; on success the stream stands at
// the found chunk's size field.
bool findChunk(std::FILE* stream, const char* tag);

// Reads and checks a wave's header from the start of `stream`: on success
// (an empty refusal) `info` describes the file and the stream stands at the
// first sample. The stream stays open either way. expectedRate 0 accepts
// any rate. A render's input is mono; readers of the program's own output
// (playback, analysis) take up to `maxChannels` interleaved channels.
// Works on any stream, files and memory alike.
Refusal readWaveHeader(std::FILE* stream, WaveInfo& info, std::uint32_t expectedRate, int maxChannels = 1);

// Opens an input wave (a regular file only: a folder, a pipe or a device
// holds none) and checks it; returns the stream positioned at the first
// sample, or nullptr with `refusal`.
std::FILE* openInputWave(const std::string& path, WaveInfo& info, std::uint32_t expectedRate, Refusal& refusal,
                         int maxChannels = 1);

// What the window learns of an input file before a render: whether it is
// usable and how long it plays (0 when it is not), or why not.
struct WaveProbe {
  bool usable = false;
  float durationSeconds = 0.0f;
  Refusal refusal;
};
WaveProbe probeInputWave(const std::string& path, std::uint32_t sampleRate);

}  // namespace vellomar
