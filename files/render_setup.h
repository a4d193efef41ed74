// Render preparation, shared by the window and the command line: opening
// the input, the too-long check and creating the output before a render;
// putting the output in place, or removing what the render made, after it.
#pragma once

#include <cstdint>
#include <string>

#include "engine/result_code.h"
#include "engine/settings.h"
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

struct PreparedRender {
  RenderJob job;
  OutputFile output;
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

// After renderSound(prepared.job) returned `result`: on success puts the
// output in place, otherwise removes what the render made and keeps any
// earlier file of the output's name. Returns the render's outcome (0 only
// when the output is in place) and leaves in `refusal` what to tell the
// user: nothing for success and for an abort.
ResultCode finishRender(PreparedRender& prepared, ResultCode result, Refusal& refusal);

}  // namespace vellomar
