// SPDX-License-Identifier: GPL-3.0-or-later
// Output formats: 16 or 24-bit PCM and 32-bit float WAV, 16 or 24-bit
// FLAC, at 44100, 48000, 88200 or 96000 Hz.
//
// The engine renders at 44100 Hz and hands its samples, little-endian, to
// the output stream in its own encoding. A 16-bit 44100 Hz WAV takes them
// as they are behind the classic 44-byte header, and so do 24-bit and float
// WAV files at 44100 Hz in the engine's 24-bit and float encodings. FLAC
// and other rates get a sound sink: a stream that decodes what the engine writes, resamples it
// with libsoxr (very high quality) when another rate is asked for, encodes
// it and writes it to the output file; closing the sink finishes the file
// and closes it.
//
// WAV sizes are all written before the data: 16-bit PCM has the classic
// header, 24-bit PCM and float WAVE_FORMAT_EXTENSIBLE (float with a "fact"
// chunk), and data beyond 4 GB makes it RF64 (a "ds64" chunk holds the
// 64-bit sizes). FLAC is written by libsndfile; on a stream that cannot
// seek (a pipe) its header leaves the length unstated.
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

#include "engine/encoding.h"
#include "files/messages.h"

namespace vellomar {

enum class OutputKind { Wav16, Wav24, WavFloat, Flac16, Flac24 };

struct OutputFormat {
  OutputKind kind = OutputKind::Wav16;
  std::uint32_t rate = 44100;
};

// The rates an output can have (and, for an edited recording, its own).
inline constexpr std::uint32_t kOutputRates[] = {44100, 48000, 88200, 96000};
bool outputRateAllowed(std::uint32_t rate);

// "wav16", "wav24", "float", "flac" (16-bit), "flac16", "flac24".
std::optional<OutputKind> outputKindFromName(const std::string& name);
const char* outputKindName(OutputKind kind);
// The names --format takes, for messages: "wav16, wav24, float, flac, flac16 or flac24".
const char* outputKindNames();
bool isFlac(OutputKind kind);
// "wav" or "flac".
const char* outputExtension(OutputKind kind);

// What the output's name says of its format: nothing for a name without
// an extension (and for standard output, "-"); `unknown` set, with
// nothing, for an extension that names no format written here.
std::optional<OutputKind> outputKindFromPath(const std::string& path, bool& unknown);

// The window's policy: the format chosen in the Options, with the container
// the output's name asks for (.wav or .flac) at the nearest depth it has.
OutputFormat formatForPath(const OutputFormat& chosen, const std::string& path);

// The extension of `path` as written (".mp3"), or empty.
std::string extensionOf(const std::string& path);

// Frames the output holds at `rate` for `frames` at `fromRate` (the
// engine's 44100 Hz, or a recording's own rate when it is edited): the
// count rounded to the nearest whole frame.
std::uint64_t outputFrames(std::uint64_t frames, std::uint32_t rate, std::uint32_t fromRate = 44100);

// Writes the complete WAV header for `frames` frames of `channels` in
// `kind` (a WAV kind) at `rate`, RF64 when the data passes 4 GB. False
// with the write-failure refusal when it cannot be written.
bool writeSoundHeader(std::FILE* stream, OutputKind kind, int channels, std::uint32_t rate, std::uint64_t frames,
                      Refusal& refusal);

// The encoding the engine writes for `format` from samples at `fromRate`:
// what keeps the precision the output can hold (float for any output
// that is resampled).
SampleEncoding encodingFor(const OutputFormat& format, std::uint32_t fromRate = 44100);

// Makes the stream that takes the engine's samples (`encoding`, `channels`
// interleaved, `frames` frames at `fromRate`) for `target` in `format`: the
// header (WAV) or the encoder (FLAC) is made at once. Closing the stream
// finishes the file and closes `target`; its result says whether all of
// it was written. nullptr with `refusal` (and `target` closed) when it
// cannot be made.
std::FILE* openSoundSink(std::FILE* target, const OutputFormat& format, SampleEncoding encoding, int channels,
                         std::uint64_t frames, Refusal& refusal, std::uint32_t fromRate = 44100);

}  // namespace vellomar
