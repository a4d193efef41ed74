// SPDX-License-Identifier: GPL-3.0-or-later
// A render written to its output stream in order: by the calling thread
// block after block, or by worker threads that render runs of blocks into
// a ring of buffers while the calling thread writes the runs in order.
// Either way progress is reported before every block, in order, on the
// calling thread, and the bytes are the same.
#pragma once

#include <cstdint>

#include "engine/block_renderer.h"
#include "engine/render_crew.h"
#include "engine/result_code.h"
#include "engine/settings.h"

namespace vellomar {

// Reports progress before block `block` of `blocks`: thousandths, on the
// calling thread. A failure to show it neither ends the render nor leaves
// the engine as an exception.
void reportProgress(const RenderJob& job, std::int64_t block, std::int64_t blocks);

// Every block of `job` by crew.renderers[0] on the calling thread, each
// written to job.output as it is made. `blocksBegun` receives the number of
// blocks whose rendering began. Adds to job.levels what it writes.
ResultCode renderInOrder(RenderJob& job, RenderCrew& crew, std::int64_t& blocksBegun);

// Every block of `job` by the crew's renderers on worker threads, runs of
// `blocksPerRun` blocks, written to job.output in order by the calling
// thread. Falls back to renderInOrder when not enough memory for the ring
// or no thread can be had. `blocksReached` receives the blocks the output
// got through. Adds to job.levels what it writes.
ResultCode renderOnWorkers(RenderJob& job, RenderCrew& crew, std::int64_t blocksPerRun, std::int64_t& blocksReached);

}  // namespace vellomar
