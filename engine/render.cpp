// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/render.h"

#include <algorithm>
#include <cstdio>

#include "engine/block_renderer.h"
#include "engine/channel_gains.h"
#include "engine/context.h"
#include "engine/ordered_render.h"
#include "engine/render_crew.h"
#include "engine/source.h"

namespace vellomar {
namespace {

// Output bytes a run may hold at most: runs are cut so that their buffers
// stay this small whatever the duration.
constexpr std::int64_t kMaxRunBytes = std::int64_t{1} << 20;
// Runs per thread the render aims at, so that the threads finish together.
constexpr std::int64_t kRunsPerThread = 4;

// Closes a stream; reports whether everything it held reached the file.
bool closeStream(std::FILE*& stream) {
  if (!stream) return true;
  bool ok = std::fflush(stream) == 0 && !std::ferror(stream);
  ok = std::fclose(stream) == 0 && ok;
  stream = nullptr;
  return ok;
}

// Blocks per run for `threads` threads: enough runs for the threads to end
// together, each run's output at most kMaxRunBytes.
std::int64_t blocksPerRun(const RenderJob& job, std::int64_t blocks, std::int32_t threads) {
  if (job.blocksPerRun > 0) return job.blocksPerRun;
  const std::int64_t blockBytes = static_cast<std::int64_t>(BlockLayout::of(job).blockValues()) *
                                  bytesPerSample(job.encoding);
  const std::int64_t most = std::max<std::int64_t>(1, kMaxRunBytes / blockBytes);
  const std::int64_t runs = kRunsPerThread * threads;
  return std::clamp<std::int64_t>((blocks + runs - 1) / runs, 1, most);
}

// Whether the job is one the engine can render: a block length and grid
// whose hops tile each block, an output, a noise state of the generator.
bool renderable(const RenderJob& job) {
  const std::int32_t n = job.settings.blockLength;
  const std::int32_t s = job.settings.subBlocksPerBlock;
  const bool noise = drawsNoise(job.settings);
  // With a sub-block count that does not divide the block length, samples
  // between the last hop and the next block would never be written and the
  // file would fall short of its header.
  return isPowerOfTwo(n) && n >= 4 && s >= 1 && s <= n && n % s == 0 && job.output &&
         (!noise || validNoiseState(job.noiseState)) && job.picture.width != 0 && job.picture.height != 0 &&
         job.picture.pixels;
}

ResultCode renderBlocks(RenderJob& job, const RenderInputs& inputs) {
  const std::int64_t blocks = BlockLayout::of(job).blocks;
  std::int32_t threads = job.threads > 0 ? job.threads : availableCores();
  threads = std::min(threads, kMaxRenderThreads);
  if (job.settings.inputSource == InputSource::WaveFile && job.sampleCount > 0 && !inputReadableByPosition(job)) {
    // A wave read in order from its stream cannot be shared, nor read
    // again for a second channel.
    if (inputs.channels > 1) return kResultInternal;
    threads = 1;
  }
  const std::int64_t perRun = blocksPerRun(job, blocks, threads);
  const std::int64_t runs = (blocks + perRun - 1) / perRun;
  threads = static_cast<std::int32_t>(std::min<std::int64_t>(threads, runs));

  // One set of plans for every renderer, made before any renderer or
  // thread: the transforms' library allocates here and nowhere else.
  FftPlans plans;
  ResultCode result = makeRenderPlans(plans, job);
  if (result != kResultOk) return result;
  RenderInputs shared = inputs;
  shared.plans = &plans;
  RenderCrew crew;
  result = makeRenderCrew(shared, static_cast<std::size_t>(std::max(threads, 1)), crew);
  if (result != kResultOk) return result;
  std::int64_t blocksReached = 0;
  result = crew.size() > 1 ? renderOnWorkers(job, crew, perRun, blocksReached)
                           : renderInOrder(job, crew, blocksReached);
  if (drawsNoise(job.settings)) {
    // Every channel and thread drew from one noise sequence: the generator
    // moves on by the blocks the render got through, as for one channel.
    const std::int64_t reached = result == kResultOk ? blocks : blocksReached;
    const std::uint64_t steps =
        static_cast<std::uint64_t>(reached) * static_cast<std::uint64_t>(job.settings.blockLength);
    job.noiseState = advanceNoiseState(job.noiseState, steps);
  }
  return result;
}

}  // namespace

ResultCode renderSound(RenderJob& job) {
  job.levels = RenderLevels{};
  ResultCode result = renderable(job) ? kResultOk : kResultInternal;
  ChannelGains gains;
  if (result == kResultOk) result = gains.make(job);
  if (result == kResultOk) {
    gains.fillAll(job);
    result = renderBlocks(job, gains.inputs(job));
  }

  if (job.input) {
    std::fclose(job.input);
    job.input = nullptr;
  }
  // A stream that cannot hand its last bytes to the file has failed just
  // as a failed write has: the file would claim more data than it holds.
  if (!closeStream(job.output) && result == kResultOk) result = kResultWriteFailed;
  return result;
}

}  // namespace vellomar
