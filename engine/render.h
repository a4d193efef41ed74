// SPDX-License-Identifier: GPL-3.0-or-later
// One render from the open job to the written file.
#pragma once

#include <cstdint>

#include "engine/encoding.h"
#include "engine/result_code.h"
#include "engine/settings.h"

namespace vellomar {

// Renders job.settings and job.picture through `job`, writing sampleCount
// frames in job.encoding to job.output. Owns both streams: they are closed
// before it returns. Returns 0, 3, 4, 7, 8, 9, 110 or 111.
//
// The output is rendered block by block (see engine/block_renderer.h):
// on the calling thread, or by job.threads worker threads that render runs
// of whole blocks at once, each with its own renderer, while the calling
// thread writes them in order; the file is the same, byte for byte, for
// every thread count. When memory or threads are short the render uses
// fewer threads; every buffer it needs is made before the first thread
// starts. Progress is reported before every block in order, on the calling
// thread; an abort is noticed within one hop. job.noiseState is left where
// the next render continues, job.levels holds the clipped samples and the
// peak of what was written.
ResultCode renderSound(RenderJob& job);

}  // namespace vellomar
