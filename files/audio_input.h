// SPDX-License-Identifier: GPL-3.0-or-later
// The input reader: a sound file (or standard input) opened for the
// engine, which reads its samples by position.
//
// Two modes. The classic reader takes RIFF/WAVE PCM of 8 or 16 bits at the
// program's rate and refuses the rest in its own words; a refusal gets the
// file's actual properties and the fix on a line after them. Any audio
// (WAV in every form, FLAC, Ogg Vorbis and Opus, MP3, AIFF and whatever
// else libsndfile reads, any depth and rate, mono or stereo) takes a
// classic 8 or 16-bit WAV file at the asked rate as it is and decodes
// everything else once into a spool (files/spool.h) at that rate.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>

#include "engine/analysis.h"
#include "engine/settings.h"
#include "files/messages.h"
#include "files/wav.h"

namespace vellomar {

class DecodedInputs;

// The name that stands for standard input and output.
inline constexpr const char* kStandardStream = "-";

struct AudioInputRules {
  bool anyAudio = false;
  // Channels the classic reader takes (a render's input 1, an analysis 2).
  // Any audio takes 1 or 2 always.
  int maxChannels = 1;
  // The rate the engine reads at; 0 takes a file at its own rate (any
  // audio decodes it without resampling, the classic reader takes any).
  std::uint32_t rate = 44100;
  // Told after a classic refusal, how to read the file anyway, e.g.
  // "leave out --strict-input".
  std::string anyAudioHint;
  // Polled while standard input is copied and while a file is decoded.
  const std::atomic<bool>* abort = nullptr;
  // Told how far a decode is, in thousandths, on the decoding thread (when
  // the file states its length).
  std::function<void(int)> progress;
  // Where a decoded file is kept for the next open of the same unchanged
  // file (files/decoded_input.h); none decodes it at every open.
  DecodedInputs* keep = nullptr;
};

struct AudioInput {
  // At the first sample, readable by position; the caller closes it.
  std::FILE* stream = nullptr;
  // sampleCount frames of `channels` at `rate`; bitsPerSample 8, 16, or 32
  // for the float spool.
  WaveInfo info;
  bool floatSamples = false;
  bool spooled = false;
  // The file as found, e.g. "48000 Hz, 24-bit, stereo, FLAC".
  std::string description;
};

// How `path` is named in messages: "standard input" for "-".
std::string inputName(const std::string& path);

// Opens `path` ("-" for standard input) under `rules`. False with the
// refusal when it cannot be used, or, with `aborted` set and no refusal,
// when `rules.abort` stopped it; nothing is left open then.
bool openAudioInput(const std::string& path, const AudioInputRules& rules, AudioInput& input, Refusal& refusal,
                    bool* aborted = nullptr);

// True when any audio reads the regular file `path` as it is (a classic
// WAV at the rules' rate), with no decode.
bool readInPlace(const std::string& path, const AudioInputRules& rules);

// Hands the opened input to a render or an analysis (which then owns the
// stream).
void giveToJob(AudioInput& input, RenderJob& job);
void giveToJob(AudioInput& input, AnalysisJob& job);

// What the window learns of an input file before a render, without
// decoding it: whether it is usable, how long it plays, or why not.
WaveProbe probeAudioInput(const std::string& path, const AudioInputRules& rules);

}  // namespace vellomar
