// One render from the open job to the written file.
#pragma once

#include "engine/result_code.h"
#include "engine/settings.h"

namespace vellomar {

// Renders renderSettings and pictureData through `job`, writing sampleCount
// 16-bit samples to job.output. Owns both streams: they are closed before it
// returns. Returns 0, 3, 4, 7, 8, 9, 110 or 111.
ResultCode renderSound(RenderJob& job);

}  // namespace vellomar
