// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/ordered_render.h"

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <new>
#include <vector>

#include "engine/encoding.h"
#include "engine/worker_threads.h"

namespace vellomar {
namespace {

bool writeBytes(std::FILE* output, const unsigned char* bytes, std::size_t count) {
  if (count > 0 && std::fwrite(bytes, 1, count, output) != count) return false;
  return !std::ferror(output) && !std::feof(output);
}

// Runs rendered into a ring of buffers by worker threads, each run by one
// renderer, and written by the calling thread in order.
class RunPipeline {
 public:
  RunPipeline(RenderJob& job, RenderCrew& crew, std::int64_t perRun)
      : job_(job),
        crew_(crew),
        layout_(BlockLayout::of(job)),
        frameBytes_(static_cast<std::size_t>(bytesPerSample(job.encoding) * layout_.channels)),
        perRun_(perRun),
        runs_((layout_.blocks + perRun - 1) / perRun) {}
  RunPipeline(const RunPipeline&) = delete;
  RunPipeline& operator=(const RunPipeline&) = delete;
  ~RunPipeline() { finish(); }

  // Makes the ring's buffers. False when memory is short.
  bool makeSlots(std::size_t count) {
    const std::size_t capacity = static_cast<std::size_t>(perRun_) * static_cast<std::size_t>(layout_.blockLength) *
                                 frameBytes_;
    try {
      slots_ = std::vector<Slot>(count);
      for (Slot& slot : slots_) slot.bytes.resize(capacity);
    } catch (const std::bad_alloc&) {
      slots_.clear();
      return false;
    }
    return true;
  }

  // Starts a worker per renderer, as many as the system gives.
  std::size_t start() {
    return workers_.start(crew_.size(), [this](std::size_t worker) { work(worker); });
  }

  // Writes the runs in order and reports progress; stops at the first
  // failure in output order.
  ResultCode writeRuns(std::int64_t& blocksReached);

  // Stops the workers (after the block each is on) and waits for them.
  void finish() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stop_ = true;
    }
    cancel_.store(true, std::memory_order_relaxed);
    slotFreed_.notify_all();
    workers_.join();
  }

 private:
  struct Slot {
    std::vector<unsigned char> bytes;  // the run's stored frames
    std::int64_t run = -1;
    std::size_t frames = 0;
    std::int64_t blocksDone = 0;
    bool finished = false;
    ResultCode result = kResultOk;
    RenderLevels levels;
  };

  void work(std::size_t worker);
  void renderRun(std::size_t worker, std::int64_t r, Slot& slot);

  RenderJob& job_;
  RenderCrew& crew_;
  const BlockLayout layout_;
  const std::size_t frameBytes_;
  const std::int64_t perRun_;
  const std::int64_t runs_;
  std::vector<Slot> slots_;
  WorkerThreads workers_;
  std::mutex mutex_;
  std::condition_variable slotFreed_;   // a slot was written, or the render stops
  std::condition_variable runChanged_;  // a block or a run was finished
  std::int64_t next_ = 0;               // the next run to take
  std::int64_t written_ = 0;            // runs written so far
  bool stop_ = false;
  std::atomic<bool> cancel_{false};  // polled between hops
};

void RunPipeline::work(std::size_t worker) {
  for (;;) {
    std::int64_t r = 0;
    Slot* slot = nullptr;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      slotFreed_.wait(lock, [&] {
        return stop_ || next_ >= runs_ || next_ - written_ < static_cast<std::int64_t>(slots_.size());
      });
      if (stop_ || next_ >= runs_) return;
      r = next_++;
      slot = &slots_[static_cast<std::size_t>(r) % slots_.size()];
      slot->run = r;
      slot->frames = 0;
      slot->blocksDone = 0;
      slot->finished = false;
      slot->result = kResultOk;
      slot->levels = RenderLevels{};
    }
    renderRun(worker, r, *slot);
  }
}

void RunPipeline::renderRun(std::size_t worker, std::int64_t r, Slot& slot) {
  BlockRenderer& renderer = *crew_.renderers[worker];
  double* values = crew_.values[worker].data();
  const StopFlags stop{job_.abort, &cancel_};
  const std::int64_t first = r * perRun_;
  const std::int64_t end = std::min(first + perRun_, layout_.blocks);
  const auto channels = static_cast<std::size_t>(layout_.channels);
  std::size_t frames = 0;
  RenderLevels levels;
  ResultCode result = kResultOk;
  for (std::int64_t b = first; b < end && result == kResultOk; ++b) {
    std::int64_t done = 0;
    result = renderer.renderBlock(b, values, stop, done);
    if (result != kResultOk) break;
    encodeSamples(values, static_cast<std::size_t>(done) * channels, job_.encoding,
                  slot.bytes.data() + frames * frameBytes_, levels);
    frames += static_cast<std::size_t>(done);
    {
      std::lock_guard<std::mutex> lock(mutex_);
      slot.frames = frames;
      ++slot.blocksDone;
    }
    runChanged_.notify_all();
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    slot.result = result;
    slot.levels = levels;
    slot.finished = true;
  }
  runChanged_.notify_all();
}

ResultCode RunPipeline::writeRuns(std::int64_t& blocksReached) {
  const std::int64_t blocks = layout_.blocks;
  ResultCode result = kResultOk;
  std::int64_t nextProgress = 0;
  auto reportUpTo = [&](std::int64_t doneBlocks) {
    const std::int64_t upTo = std::min(doneBlocks, blocks - 1);
    for (; nextProgress <= upTo; ++nextProgress) reportProgress(job_, nextProgress, blocks);
  };
  reportUpTo(0);
  blocksReached = 0;
  for (std::int64_t r = 0; r < runs_ && result == kResultOk; ++r) {
    Slot& slot = slots_[static_cast<std::size_t>(r) % slots_.size()];
    const std::int64_t first = r * perRun_;
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      const std::int64_t shown = nextProgress - first;
      runChanged_.wait(lock, [&] { return slot.run == r && (slot.finished || slot.blocksDone >= shown); });
      const bool done = slot.finished;
      const std::int64_t doneBlocks = slot.blocksDone;
      lock.unlock();
      reportUpTo(first + doneBlocks);
      blocksReached = first + doneBlocks;
      lock.lock();
      if (done) break;
    }
    result = slot.result;
    const std::size_t used = slot.frames * frameBytes_;
    const RenderLevels levels = slot.levels;
    lock.unlock();
    if (result != kResultOk) {
      blocksReached = std::min(blocks, blocksReached + 1);
      break;
    }
    if (!writeBytes(job_.output, slot.bytes.data(), used)) result = kResultWriteFailed;
    job_.levels.add(levels);
    // Between runs as between hops: an abort after the last hop of the
    // output is too late to matter.
    if (result == kResultOk && r + 1 < runs_ && job_.abort && job_.abort->load(std::memory_order_relaxed)) {
      result = kResultAborted;
    }
    lock.lock();
    written_ = r + 1;
    lock.unlock();
    slotFreed_.notify_all();
  }
  return result;
}

}  // namespace

void reportProgress(const RenderJob& job, std::int64_t block, std::int64_t blocks) {
  if (!job.progress) return;
  try {
    job.progress(static_cast<int>(block * 1000 / blocks));
  } catch (...) {
  }
}

ResultCode renderInOrder(RenderJob& job, RenderCrew& crew, std::int64_t& blocksBegun) {
  const BlockLayout layout = BlockLayout::of(job);
  blocksBegun = 0;
  std::vector<unsigned char> bytes;
  try {
    bytes.resize(layout.blockValues() * static_cast<std::size_t>(bytesPerSample(job.encoding)));
  } catch (const std::bad_alloc&) {
    return kResultNoMemory;
  }
  BlockRenderer& renderer = *crew.renderers[0];
  double* values = crew.values[0].data();
  const StopFlags stop{job.abort, nullptr};
  const auto channels = static_cast<std::size_t>(layout.channels);
  for (std::int64_t b = 0; b < layout.blocks; ++b) {
    reportProgress(job, b, layout.blocks);
    blocksBegun = b + 1;
    std::int64_t done = 0;
    const ResultCode result = renderer.renderBlock(b, values, stop, done);
    // What the block got through is written, a failed or aborted block's
    // hops too.
    const std::size_t count = static_cast<std::size_t>(done) * channels;
    RenderLevels levels;
    encodeSamples(values, count, job.encoding, bytes.data(), levels);
    job.levels.add(levels);
    if (!writeBytes(job.output, bytes.data(), count * static_cast<std::size_t>(bytesPerSample(job.encoding)))) {
      return kResultWriteFailed;
    }
    if (result != kResultOk) return result;
  }
  return kResultOk;
}

ResultCode renderOnWorkers(RenderJob& job, RenderCrew& crew, std::int64_t blocksPerRun, std::int64_t& blocksReached) {
  blocksReached = 0;
  // Two runs in the ring per thread, and a stack per thread: with too
  // little memory for them, half as many renderers, which frees theirs.
  while (crew.size() > 1) {
    RunPipeline pipeline(job, crew, blocksPerRun);
    if (pipeline.makeSlots(2 * crew.size()) && pipeline.start() > 0) {
      const ResultCode result = pipeline.writeRuns(blocksReached);
      pipeline.finish();
      return result;
    }
    crew.shrink(crew.size() / 2);
  }
  return renderInOrder(job, crew, blocksReached);
}

}  // namespace vellomar
