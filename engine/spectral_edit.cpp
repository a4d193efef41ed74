// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/spectral_edit.h"

#include <algorithm>
#include <cmath>
#include <condition_variable>
#include <exception>
#include <memory>
#include <mutex>
#include <new>
#include <thread>

#include "engine/scales.h"
#include "engine/spectral_edit_frames.h"
#include "engine/spectral_edit_grid.h"

namespace vellomar {
namespace {

// Hops of output a chunk holds, and chunks a thread makes between writes.
constexpr std::int64_t kChunkHops = 64;
constexpr std::int64_t kChunksPerThread = 2;

void reportProgress(const SpectralEditJob& job, int thousandths) {
  if (!job.progress) return;
  try {
    job.progress(thousandths);
  } catch (...) {
  }
}

// One thread's chunk: the samples its frames reach, per channel, and the
// output it makes.
struct ChunkWorker {
  EditContext context;
  std::vector<double> reach;  // chunk + 2 (N - hop) + hop samples of one channel
  std::vector<double> delta;  // chunk samples

  ResultCode configure(const EditGrid& grid, const SynthesisStore& store) {
    if (const ResultCode r = context.configure(grid, store); r != kResultOk) return r;
    try {
      const auto chunk = static_cast<std::size_t>(kChunkHops * grid.hop);
      reach.assign(chunk + 2 * static_cast<std::size_t>(grid.n - grid.hop) + static_cast<std::size_t>(grid.hop), 0.0);
      delta.assign(chunk, 0.0);
    } catch (const std::bad_alloc&) {
      return kResultNoMemory;
    }
    return kResultOk;
  }

  // Chunk c into `out` (interleaved); its frame count in `count`.
  ResultCode render(std::int64_t c, double* out, std::size_t& count) {
    const EditGrid& g = *context.grid;
    const std::int64_t begin = c * kChunkHops * g.hop;
    const std::int64_t end = std::min<std::int64_t>(begin + kChunkHops * g.hop, g.total);
    count = static_cast<std::size_t>(end - begin);
    // Every sample of the frames that reach the chunk; the last of a chunk
    // that ends part-way through a hop reaches up to a hop beyond N - hop.
    const std::int64_t firstFrame = g.firstFrameAt(begin);
    const std::int64_t lastFrame = std::min(g.lastFrameAt(end - 1), g.frames - 1);
    const std::int64_t reachBegin = g.frameStart(firstFrame);
    const std::int64_t reachLength = g.frameStart(lastFrame) + g.n - reachBegin;
    if (reachLength > static_cast<std::int64_t>(reach.size())) return kResultInternal;
    for (std::int32_t ch = 0; ch < g.channels; ++ch) {
      if (const ResultCode r = context.read(ch, reachBegin, reachLength, reach.data()); r != kResultOk) return r;
      std::fill(delta.begin(), delta.end(), 0.0);
      // Frames in order, so that every sample sums them alike.
      for (std::int64_t j = firstFrame; j <= lastFrame; ++j) {
        ResultCode r = kResultOk;
        const double* x = reach.data() + (g.frameStart(j) - reachBegin);
        if (context.frameChange(j, ch, x, true, r) && !context.addChange(j, delta.data(), begin, end)) {
          return kResultNoMemory;
        }
        if (r != kResultOk) return r;
      }
      const double* x = reach.data() + (begin - reachBegin);
      const auto channels = static_cast<std::size_t>(g.channels);
      for (std::size_t i = 0; i < count; ++i) out[i * channels + static_cast<std::size_t>(ch)] = x[i] + delta[i];
    }
    return kResultOk;
  }
};

// Threads that make chunks batch by batch; the calling thread is one of
// them and writes each batch in order once it is complete.
class ChunkPool {
 public:
  ChunkPool(const EditGrid& grid, const SynthesisStore& store) : grid_(grid), store_(store) {}
  ~ChunkPool() { stop(); }

  ResultCode start(std::int32_t threads) {
    try {
      for (std::int32_t i = 0; i < threads; ++i) workers_.push_back(std::make_unique<ChunkWorker>());
      const auto slots = static_cast<std::size_t>(threads * kChunksPerThread);
      outputs_.resize(slots);
      counts_.assign(slots, 0);
      for (std::vector<double>& out : outputs_) {
        out.assign(static_cast<std::size_t>(kChunkHops * grid_.hop * grid_.channels), 0.0);
      }
    } catch (const std::bad_alloc&) {
      return kResultNoMemory;
    } catch (const std::length_error&) {
      return kResultNoMemory;
    }
    for (std::unique_ptr<ChunkWorker>& worker : workers_) {
      if (const ResultCode r = worker->configure(grid_, store_); r != kResultOk) return r;
    }
    for (std::size_t i = 1; i < workers_.size(); ++i) {
      try {
        threads_.emplace_back([this, i] { serve(i); });
      } catch (const std::exception&) {
        break;  // fewer threads do the same work
      }
    }
    return kResultOk;
  }

  // Makes chunks [first, end) (at most the slots); the calling thread helps.
  ResultCode batch(std::int64_t first, std::int64_t end) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      first_ = first;
      next_ = first;
      end_ = end;
      done_ = 0;
      result_ = kResultOk;
      ++generation_;
    }
    wake_.notify_all();
    work(0);
    std::unique_lock<std::mutex> lock(mutex_);
    finished_.wait(lock, [&] { return done_ == end_ - first_; });
    return result_;
  }

  const double* output(std::int64_t c) const { return outputs_[static_cast<std::size_t>(c - first_)].data(); }
  std::size_t count(std::int64_t c) const { return counts_[static_cast<std::size_t>(c - first_)]; }

 private:
  void work(std::size_t worker) {
    for (;;) {
      std::int64_t c = 0;
      {
        std::lock_guard<std::mutex> lock(mutex_);
        if (next_ >= end_) return;
        c = next_++;
      }
      const auto slot = static_cast<std::size_t>(c - first_);
      const ResultCode r = workers_[worker]->render(c, outputs_[slot].data(), counts_[slot]);
      std::lock_guard<std::mutex> lock(mutex_);
      if (r != kResultOk && result_ == kResultOk) result_ = r;
      ++done_;
      if (done_ == end_ - first_) finished_.notify_all();
    }
  }

  void serve(std::size_t worker) {
    std::uint64_t seen = 0;
    for (;;) {
      {
        std::unique_lock<std::mutex> lock(mutex_);
        wake_.wait(lock, [&] { return stopping_ || generation_ != seen; });
        if (stopping_) return;
        seen = generation_;
      }
      work(worker);
    }
  }

  void stop() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stopping_ = true;
    }
    wake_.notify_all();
    for (std::thread& t : threads_) t.join();
    threads_.clear();
  }

  const EditGrid& grid_;
  const SynthesisStore& store_;
  std::vector<std::unique_ptr<ChunkWorker>> workers_;
  std::vector<std::vector<double>> outputs_;
  std::vector<std::size_t> counts_;
  std::vector<std::thread> threads_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::condition_variable finished_;
  std::uint64_t generation_ = 0;
  std::int64_t first_ = 0, next_ = 0, end_ = 0, done_ = 0;
  ResultCode result_ = kResultOk;
  bool stopping_ = false;
};

// Chunks [first, end).
struct ChunkSpan {
  std::int64_t first = 0;
  std::int64_t end = 0;
};

// The chunks that hold the output the job asks for, whose samples
// [first, end) it sets.
ChunkSpan chunksOf(const SpectralEditJob& job, const EditGrid& grid, std::int64_t& first, std::int64_t& end) {
  const std::int64_t chunkSamples = kChunkHops * grid.hop;
  end = job.outputEnd == 0 ? grid.total : std::min<std::int64_t>(grid.total, static_cast<std::int64_t>(job.outputEnd));
  first = std::min<std::int64_t>(static_cast<std::int64_t>(job.outputFirst), end);
  if (first >= end) return {};
  return {first / chunkSamples, (end + chunkSamples - 1) / chunkSamples};
}

// The samples the solved runs reach, merged, into `reach`.
void synthesisReachOf(const EditGrid& grid, const SynthesisStore& store, std::vector<SampleRange>& reach) {
  reach.clear();
  for (const SynthesisRun& run : store.runs) {
    const std::int64_t first = std::clamp<std::int64_t>(grid.frameStart(run.first), 0, grid.total);
    const std::int64_t end = std::clamp<std::int64_t>(grid.frameStart(run.end - 1) + grid.n, 0, grid.total);
    if (first < end) reach.push_back({static_cast<std::uint64_t>(first), static_cast<std::uint64_t>(end)});
  }
  std::sort(reach.begin(), reach.end(), [](const SampleRange& a, const SampleRange& b) { return a.first < b.first; });
  std::size_t kept = 0;
  for (const SampleRange& r : reach) {
    if (kept > 0 && r.first <= reach[kept - 1].end) {
      reach[kept - 1].end = std::max(reach[kept - 1].end, r.end);
    } else {
      reach[kept++] = r;
    }
  }
  reach.resize(kept);
}

ResultCode renderWithGrid(const SpectralEditJob& job, const EditGrid& grid) {
  SynthesisStore store;
  if (const ResultCode r = solveSynthesis(grid, store, job.abort); r != kResultOk) return r;
  if (job.synthesisReach) synthesisReachOf(grid, store, *job.synthesisReach);
  std::int64_t outFirst = 0, outEnd = 0;
  const ChunkSpan span = chunksOf(job, grid, outFirst, outEnd);
  const std::int64_t chunks = span.end - span.first;
  std::int32_t threads = job.threads > 0 ? job.threads : availableCores();
  threads = static_cast<std::int32_t>(std::clamp<std::int64_t>(std::min<std::int64_t>(threads, chunks), 1, kMaxRenderThreads));
  ChunkPool pool(grid, store);
  if (const ResultCode r = pool.start(threads); r != kResultOk) return r;
  const std::int64_t perBatch = threads * kChunksPerThread;
  const auto channels = static_cast<std::size_t>(grid.channels);
  reportProgress(job, 0);
  for (std::int64_t first = span.first; first < span.end; first += perBatch) {
    if (job.abort && job.abort->load(std::memory_order_relaxed)) return kResultAborted;
    const std::int64_t end = std::min(span.end, first + perBatch);
    if (const ResultCode r = pool.batch(first, end); r != kResultOk) return r;
    for (std::int64_t c = first; c < end; ++c) {
      // The chunk's samples within the range asked for.
      const std::int64_t begin = c * kChunkHops * grid.hop;
      const std::int64_t from = std::max(begin, outFirst);
      const std::int64_t to = std::min(begin + static_cast<std::int64_t>(pool.count(c)), outEnd);
      const double* values = pool.output(c) + static_cast<std::size_t>(from - begin) * channels;
      if (const ResultCode r = job.write(static_cast<std::uint64_t>(from), static_cast<std::size_t>(to - from), values);
          r != kResultOk) {
        return r;
      }
    }
    reportProgress(job, static_cast<int>((end - span.first) * 1000 / chunks));
  }
  if (chunks == 0) reportProgress(job, 1000);
  return kResultOk;
}

}  // namespace

ResultCode renderSpectralEdit(const SpectralEditJob& job) {
  try {
    EditGrid grid;
    if (const ResultCode r = makeEditGrid(job, grid); r != kResultOk) return r;
    return renderWithGrid(job, grid);
  } catch (const std::bad_alloc&) {
    return kResultNoMemory;
  } catch (const std::length_error&) {
    return kResultNoMemory;
  } catch (const std::exception&) {
    return kResultInternal;
  }
}

ResultCode editedSampleRanges(const SpectralEditJob& job, std::vector<SampleRange>& ranges) {
  ranges.clear();
  try {
    EditGrid grid;
    if (const ResultCode r = makeEditGrid(job, grid); r != kResultOk) return r;
    FrameCells cells;
    if (!cells.configure(grid)) return kResultNoMemory;
    for (std::int64_t j = 0; j < grid.frames; ++j) {
      bool changed = false;
      for (std::int32_t ch = 0; ch < grid.channels && !changed; ++ch) {
        if (frameMoved(grid, j, ch)) changed = true;
        if (!changed && grid.frameTouched(j, ch)) {
          cells.evaluate(grid, j, ch);
          changed = cells.any;
        }
      }
      if (!changed) continue;
      const auto first = static_cast<std::uint64_t>(std::max<std::int64_t>(0, grid.frameStart(j)));
      const auto end = static_cast<std::uint64_t>(std::min<std::int64_t>(grid.total, grid.frameStart(j) + grid.n));
      if (!ranges.empty() && first <= ranges.back().end) {
        ranges.back().end = std::max(ranges.back().end, end);
      } else {
        ranges.push_back({first, end});
      }
    }
  } catch (const std::bad_alloc&) {
    return kResultNoMemory;
  }
  return kResultOk;
}

SpectralMove moveForPicture(const SpectralEditJob& job, std::int32_t channel, std::uint32_t x0, std::uint32_t y0,
                            std::uint32_t x1, std::uint32_t y1, std::int32_t dx, std::int32_t dy) {
  SpectralMove move;
  move.channel = channel;
  const std::int32_t n = job.settings.blockLength;
  if (n < 16 || job.width == 0 || job.height == 0) return move;
  const std::int32_t hop = n / 4;
  const double total = static_cast<double>(job.sampleCount);
  const double spacing = job.height > 1 ? total / (job.height - 1) : 0.0;
  // Frame j's centre is at j * hop - N/2 + hop.
  const auto frameAt = [&](double sample) { return (sample + n / 2 - hop) / hop; };
  const double t0 = (static_cast<double>(y0) + dy - 0.5) * spacing;
  const double t1 = (static_cast<double>(y1) + dy - 0.5) * spacing;
  move.frameFirst = static_cast<std::int64_t>(std::ceil(frameAt(std::max(0.0, t0))));
  move.frameEnd = static_cast<std::int64_t>(std::ceil(frameAt(std::min(total, t1))));
  move.frameOffset = static_cast<std::int64_t>(std::llround(dy * spacing / hop));

  const ScaleMapping mapping =
      pictureMapping(job.settings, static_cast<float>(std::max<std::uint32_t>(job.width, 2) - 1));
  const double binHz = static_cast<double>(job.settings.sampleRate) / n;
  const auto binAt = [&](double position) {
    // The first bin whose centre lies at or beyond `position`.
    std::int32_t lo = 0, hi = n / 2;
    while (lo < hi) {
      const std::int32_t mid = (lo + hi) / 2;
      if (mapping.position(static_cast<float>(std::max(mid, 1) * binHz)) < position) lo = mid + 1; else hi = mid;
    }
    return lo;
  };
  const double p0 = static_cast<double>(x0) + dx - 0.5;
  const double p1 = static_cast<double>(x1) + dx - 0.5;
  move.binFirst = binAt(p0);
  move.binEnd = binAt(p1);
  const double centre = (static_cast<double>(x0) + x1 - 1) / 2.0;
  move.binOffset = binAt(centre + dx) - binAt(centre);
  return move;
}

}  // namespace vellomar
