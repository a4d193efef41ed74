// SPDX-License-Identifier: GPL-3.0-or-later
// Render preparation, shared by the window and the command line: opening
// the input, the too-long check and creating the output before a render;
// putting the output in place, or removing what the render made, after it.
#pragma once

#include <cstdint>
#include <string>

#include "engine/result_code.h"
#include "engine/settings.h"
#include "files/audio_input.h"
#include "files/audio_output.h"
#include "files/messages.h"
#include "files/output_file.h"

namespace vellomar {

struct BandLimits;

// The name of a scale in messages: "Linear", "Logarithmic" or "Mel".
const char* scaleName(FrequencyScale scale);

// The bands `limits` allow on `scale`, in words: "16 ... 22050 Hz on the
// Mel scale, the lowest frequency at least 5.39 Hz below the highest" (the
// least width rounded up to hundredths, so that it is itself allowed).
std::string bandLimitsText(FrequencyScale scale, const BandLimits& limits);

// Nothing when the settings' band fits their scale and block length; else
// the refusal that says which bands do.
Refusal bandRefusal(const RenderSettings& settings);

// How a render reads its input and writes its output: the classic reader
// and a 16-bit 44100 Hz WAV unless chosen otherwise.
struct SoundFileOptions {
  AudioInputRules input;
  OutputFormat output;
};

struct PreparedRender {
  RenderJob job;
  OutputFile output;
  // The sound goes to standard output ("-" as the output's name): nothing
  // to put in place or remove afterwards.
  bool toStandardOutput = false;
  // What the input was found to be, e.g. "48000 Hz, 24-bit, stereo, FLAC".
  std::string inputDescription;
};

// Fills `prepared` for a render of `settings` and `picture` whose noise
// starts from `noiseState`: checks the band (bandRefusal), opens the input
// wave (wave source, with the settings' rate), checks that the sound fits a
// wave file of the settings' channels and opens the output (see
// OutputFile). False, with the refusal in the reader's or the
// writer's own words, when the render cannot start; nothing of the user's
// has changed then and nothing is left open. The job's transforms use
// measured plans (job.plans). The caller sets the job's progress, abort
// flag and threads.
bool prepareRender(const RenderSettings& settings, const PictureData& picture, std::int32_t noiseState,
                   PreparedRender& prepared, Refusal& refusal);

// The same with the input read and the output written as `options` say;
// an input named "-" is standard input and an output named "-" standard
// output. When `options.input.abort` stops the input's reading it returns
// false with no refusal and `aborted` set.
bool prepareRender(const RenderSettings& settings, const PictureData& picture, std::int32_t noiseState,
                   const SoundFileOptions& options, PreparedRender& prepared, Refusal& refusal,
                   bool* aborted = nullptr);

// The kind of file an output of `format` is, in messages: "output wave
// file" or "output FLAC file".
const char* outputFileKind(const OutputFormat& format);

// After renderSound(prepared.job) returned `result`: on success puts the
// output in place, otherwise removes what the render made and keeps any
// earlier file of the output's name. Returns the render's outcome (0 only
// when the output is in place) and leaves in `refusal` what to tell the
// user: nothing for success and for an abort.
ResultCode finishRender(PreparedRender& prepared, ResultCode result, Refusal& refusal);

}  // namespace vellomar
