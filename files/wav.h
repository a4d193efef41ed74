// WAV files: the input reader and the output writer.
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

// Whether the data of `info` fits the 32-bit sizes of a WAV header. When it
// does not and showMessages, says so in the error box. Touches no file.
bool waveDataFits(const WaveInfo& info, bool showMessages, MessageOwner owner);

// Whether `durationSeconds` of noise output fit a 16-bit mono WAV at
// `sampleRate`. The count is formed in double, so a count past 32 bits is
// reported with its true value. Touches no file.
bool noiseRenderFits(std::uint32_t sampleRate, float durationSeconds, bool showMessages, MessageOwner owner);

// Creates (or truncates) `path` and writes the complete 44-byte header.
// Returns the open stream positioned after it, or nullptr (reported when
// showMessages). Refuses, before touching any file, data that a WAV header
// cannot describe.
std::FILE* createOutputWave(const std::string& path, const WaveInfo& info, bool showMessages, MessageOwner owner);

// Walks chunks from the current position; on success the stream stands at
// the found chunk's size field.
bool findChunk(std::FILE* stream, const char* tag);

// Opens an input wave and checks it; returns the stream positioned at the
// first sample, or nullptr (each refusal reported when showMessages).
// expectedRate 0 accepts any rate.
std::FILE* openInputWave(const std::string& path, WaveInfo& info, std::uint32_t expectedRate, bool showMessages,
                         MessageOwner owner);

// Whether renderSettings.inputPath names a usable file; sets inputWaveDuration.
bool probeInputWave(bool showMessages, MessageOwner owner);

}  // namespace vellomar
