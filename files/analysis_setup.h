// SPDX-License-Identifier: GPL-3.0-or-later
// Analysis preparation, shared by the window and the command line: opening
// the wave, choosing the picture's size and making its bytes before an
// analysis; closing the wave and telling the outcome after it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "engine/analysis.h"
#include "engine/result_code.h"
#include "engine/settings.h"
#include "files/audio_input.h"
#include "files/messages.h"
#include "files/picture.h"
#include "files/wav.h"

namespace vellomar {

struct PreparedAnalysis {
  AnalysisJob job;
  std::shared_ptr<PictureBitmap> picture;  // the bytes the job writes
  WaveInfo wave;
  PreparedAnalysis() = default;
  PreparedAnalysis(const PreparedAnalysis&) = delete;
  PreparedAnalysis& operator=(const PreparedAnalysis&) = delete;
  ~PreparedAnalysis();
};

// The size of the picture an analysis of `sampleCount` samples makes when
// the caller names none (a side of 0): kDefaultAnalysisWidth columns, one
// row per hop, no more rows than the loader reads back.
void defaultAnalysisSize(const RenderSettings& settings, std::uint32_t sampleCount, std::uint32_t& width,
                         std::uint32_t& height);

// Fills `prepared` for an analysis of the wave at `path` with `settings`
// into a width x height picture (either 0: the default): opens the wave
// (mono, or stereo: a colour picture) with the settings' rate and makes
// the picture's bytes. False with the
// refusal (the reader's own words, or "Not enough memory") when it cannot
// start; nothing is left open then. The caller sets the job's progress,
// abort flag and threads.
bool prepareAnalysis(const std::string& path, const RenderSettings& settings, std::uint32_t width,
                     std::uint32_t height, PreparedAnalysis& prepared, Refusal& refusal);

// The same with the wave read as `rules` say (any audio, or the classic
// reader; mono or stereo either way); "-" is standard input. When
// `rules.abort` stops the reading it returns false with no refusal and
// `aborted` set.
bool prepareAnalysis(const std::string& path, const RenderSettings& settings, std::uint32_t width,
                     std::uint32_t height, const AudioInputRules& rules, PreparedAnalysis& prepared,
                     Refusal& refusal, bool* aborted = nullptr);

// Makes the prepared analysis's picture width x height (zeros) in place of
// the one it had, for a size the user chose once the wave was open. False
// with the refusal ("Not enough memory") when it cannot; the analysis then
// has no picture.
bool resizeAnalysisPicture(PreparedAnalysis& prepared, std::uint32_t width, std::uint32_t height, Refusal& refusal);

// The sizes an analysis picture may have, in the words both front-ends
// use: "each side from 1 to 1000000, at most N pixels in all" (the sizes
// the picture loader reads again, pictureSizeLoadable).
std::string analysisSizeLimits();

// Why width x height, which the user wrote as `size`, cannot be an
// analysis picture's size: "<size> is not a picture size that can be
// loaded again (<limits>)"; empty when it can.
std::string analysisSizeRefusal(std::uint64_t width, std::uint64_t height, const std::string& size);

// Analyses the prepared wave into its picture: a mono wave into the
// brightness bytes; a stereo wave one channel at a time, the left into the
// red plane and the right into the green (as a stereo render reads them),
// the brightness then made from those colours (no blue) as the picture
// loader makes it. Returns the engine's result; progress runs once from 0
// to 1000 either way.
ResultCode analysePrepared(PreparedAnalysis& prepared);

// After analysePrepared(prepared) returned `result`: closes the wave and
// returns the result, with what to tell the user in `refusal` (nothing
// for success and for an abort).
ResultCode finishAnalysis(PreparedAnalysis& prepared, ResultCode result, Refusal& refusal);

}  // namespace vellomar
