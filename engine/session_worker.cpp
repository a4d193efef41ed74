// SPDX-License-Identifier: GPL-3.0-or-later
// The render session's worker threads: taking runs of dirty blocks,
// rendering and publishing them, installing revisions and reporting how
// each ended.
#include <algorithm>

#include "engine/session_state.h"

namespace vellomar {
namespace {

// Blocks a worker takes at a time at most: short runs spread a revision
// over the threads and keep the blocks near the player coming first; each
// run costs one block read before its first.
constexpr std::int64_t kMostBlocksPerRun = 16;
// Runs per thread a revision is cut into, when it has enough blocks.
constexpr std::int64_t kRunsPerThread = 4;

bool settingsChangeDesign(const RenderSettings& a, const RenderSettings& b) {
  return a.frequencyScale != b.frequencyScale || a.bandLowHz != b.bandLowHz || a.bandHighHz != b.bandHighHz ||
         a.inputSource != b.inputSource || a.sampleRate != b.sampleRate;
}

bool settingsChangeMapping(const RenderSettings& a, const RenderSettings& b) {
  return a.logBrightness != b.logBrightness || a.logRangeDb != b.logRangeDb;
}

}  // namespace

void RenderSession::State::work(std::size_t worker) {
  std::unique_lock<std::mutex> lock(mutex);
  for (;;) {
    if (stopping) return;
    if (applying || ending) {
      changed.wait(lock);
      continue;
    }
    if (pending.present) {
      if (busy == 0) {
        applyPending(lock);
      } else {
        changed.wait(lock);
      }
      continue;
    }
    if (active) {
      std::int64_t first = 0;
      std::int64_t end = 0;
      if (failure == kResultOk && claim(worker, first, end)) {
        ++busy;
        lock.unlock();
        renderRun(worker, first, end);
        lock.lock();
        --busy;
        changed.notify_all();
        continue;
      }
      if (busy == 0) {
        endRevision(lock);
        continue;
      }
    }
    changed.wait(lock);
  }
}

bool RenderSession::State::claim(std::size_t worker, std::int64_t& first, std::int64_t& end) {
  if (worker >= crew.size() || dirty.count() == 0) return false;
  const std::int64_t play = std::clamp<std::int64_t>(playBlock.load(std::memory_order_relaxed), 0, layout.blocks - 1);
  if (play != cursorPlayBlock) {
    cursorPlayBlock = play;
    cursor = play;
  }
  const std::int64_t spread = kRunsPerThread * static_cast<std::int64_t>(crew.size());
  const std::int64_t most = std::clamp<std::int64_t>((dirty.count() + spread - 1) / spread, 1, kMostBlocksPerRun);
  if (!dirty.take(cursor, most, first, end)) return false;
  cursor = end < layout.blocks ? end : 0;
  return true;
}

void RenderSession::State::renderRun(std::size_t worker, std::int64_t first, std::int64_t end) {
  BlockRenderer& renderer = *crew.renderers[worker];
  double* values = crew.values[worker].data();
  unsigned char* bytes = stored[worker].data();
  const StopFlags stop{&interrupt, nullptr};
  const auto channels = static_cast<std::size_t>(layout.channels);
  std::int64_t done = 0;
  for (std::int64_t b = first; b < end; ++b) {
    std::int64_t frames = 0;
    ResultCode result = renderer.renderBlock(b, values, stop, frames);
    RenderLevels levels;
    if (result == kResultOk) {
      encodeSamples(values, static_cast<std::size_t>(frames) * channels, job.encoding, bytes, levels);
      result = table.store(b, bytes);
    }
    if (result != kResultOk) {
      // The block and the rest of the run are still to render; an
      // interrupted block is no failure.
      std::lock_guard<std::mutex> lock(mutex);
      dirty.markRange(b, end);
      cursor = std::min(cursor, b);
      published += done;
      if (result != kResultAborted && failure == kResultOk) {
        failure = result;
        interrupt.store(true, std::memory_order_relaxed);
      }
      return;
    }
    blockClipped[static_cast<std::size_t>(b)] = static_cast<std::uint32_t>(levels.clippedSamples);
    blockPeak[static_cast<std::size_t>(b)] = levels.peak;
    const std::uint32_t generation = table.publish(b);
    ++done;
    if (options.blockPublished) {
      try {
        options.blockPublished(b, generation);
      } catch (...) {
      }
    }
  }
  std::lock_guard<std::mutex> lock(mutex);
  published += done;
}

void RenderSession::State::report(const RenderOutcome& outcome) {
  {
    std::lock_guard<std::mutex> lock(mutex);
    last = outcome;
  }
  if (!options.renderEnded) return;
  try {
    options.renderEnded(outcome);
  } catch (...) {
  }
}

void RenderSession::State::endRevision(std::unique_lock<std::mutex>& lock) {
  ending = true;
  active = false;
  RenderOutcome outcome;
  outcome.revision = activeId;
  outcome.result = failure;
  outcome.blocksRendered = published;
  lock.unlock();
  if (outcome.result == kResultOk) {
    // Every worker is idle: the blocks' levels are all written.
    for (std::int64_t b = 0; b < layout.blocks; ++b) {
      RenderLevels block;
      block.clippedSamples = blockClipped[static_cast<std::size_t>(b)];
      block.peak = blockPeak[static_cast<std::size_t>(b)];
      outcome.levels.add(block);
    }
  }
  report(outcome);
  lock.lock();
  ending = false;
  changed.notify_all();
}

void RenderSession::State::applyPending(std::unique_lock<std::mutex>& lock) {
  applying = true;
  PendingRevision request = std::move(pending);
  pending.present = false;
  const bool wasActive = active;
  RenderOutcome interrupted;
  interrupted.revision = activeId;
  interrupted.result = kResultAborted;
  interrupted.superseded = true;
  interrupted.blocksRendered = published;
  active = false;
  lock.unlock();

  if (wasActive) report(interrupted);
  for (std::uint64_t id = request.firstId; id < request.id; ++id) {
    RenderOutcome merged;
    merged.revision = id;
    merged.result = kResultAborted;
    merged.superseded = true;
    report(merged);
  }
  const ResultCode result = install(request);

  lock.lock();
  applying = false;
  active = true;
  activeId = request.id;
  failure = result;
  published = 0;
  interrupt.store(false, std::memory_order_relaxed);
  cursorPlayBlock = std::clamp<std::int64_t>(playBlock.load(std::memory_order_relaxed), 0, layout.blocks - 1);
  cursor = cursorPlayBlock;
  changed.notify_all();
}

ResultCode RenderSession::State::prepareRenderers(bool newSource) {
  RenderInputs inputs = gains.inputs(job);
  inputs.plans = &plans;
  for (std::size_t i = 0; i < crew.size(); ++i) {
    if (newSource) crew.renderers[i] = makeBlockRenderer(job.settings);
    const ResultCode result = crew.renderers[i] ? crew.renderers[i]->prepare(inputs) : kResultNoMemory;
    if (result == kResultOk) continue;
    // Fewer renderers when memory is short; none is a failure.
    if (i == 0 || result != kResultNoMemory) return result;
    crew.shrink(i);
    break;
  }
  return kResultOk;
}

ResultCode RenderSession::State::install(PendingRevision& request) {
  const RenderSettings before = current.settings;
  const RenderSettings& after = request.snapshot.settings;
  const bool resized = current.picture.width != request.snapshot.picture.width ||
                       current.picture.height != request.snapshot.picture.height;
  const bool newSource = before.inputSource != after.inputSource;
  const bool prepare = mustPrepare || resized || settingsChangeDesign(before, after);
  const bool remap = settingsChangeMapping(before, after);
  const bool everyRow = prepare || remap || before.masterGainDb != after.masterGainDb;
  current = std::move(request.snapshot);
  fillJob(job, current);
  drawsNoise.store(vellomar::drawsNoise(current.settings), std::memory_order_relaxed);
  job.noiseState = startNoiseState;

  ResultCode result = kResultOk;
  if (prepare) {
    mustPrepare = true;
    result = gains.make(job);
    if (result == kResultOk) {
      gains.fillAll(job);
      result = prepareRenderers(newSource);
    }
    if (result == kResultOk && !computeBlockRows(job, *crew.renderers[0], blockRows)) result = kResultNoMemory;
    if (result == kResultOk) mustPrepare = false;
  } else if (remap) {
    gains.fillAll(job);
  } else {
    gains.fill(job, request.rows.first, request.rows.last);
  }
  for (std::size_t i = 0; i < crew.size(); ++i) {
    if (crew.renderers[i]) crew.renderers[i]->forget();
  }
  if (everyRow || result != kResultOk) {
    dirty.markAll();
  } else {
    markTouched(request.rows);
  }
  return result;
}

void RenderSession::State::markTouched(const RowSpan& rows) {
  for (std::int64_t b = 0; b < layout.blocks; ++b) {
    if (blockRows[static_cast<std::size_t>(b)].meets(rows)) dirty.mark(b);
  }
}

}  // namespace vellomar
