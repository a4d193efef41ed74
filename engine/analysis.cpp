// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/analysis.h"

#include <algorithm>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <new>
#include <exception>
#include <thread>
#include <vector>

#include "engine/analysis_tables.h"
#include "engine/context.h"
#include "engine/design.h"
#include "engine/design_internal.h"
#include "engine/positional_read.h"
#include "engine/sine.h"
#include "engine/source.h"
#include "fft/buffer.h"
#include "fft/fft.h"

namespace vellomar {
namespace {

using analysis_detail::AnalysisTables;
using analysis_detail::BrightnessMap;
using analysis_detail::frameWeight;
using analysis_detail::makeTables;

// Frames a row of at most two frame spacings reaches: it is made from them
// once the last has been analysed.
constexpr std::int64_t kFrameRing = 4;
// Rows wider than two frame spacings being summed at once: at most two
// overlap any frame's reach, and the end rows may be narrower.
constexpr std::int64_t kRowSlots = 4;
// Runs per thread, so that the threads finish together, and the fewest
// frames a run should hold (a run re-analyses the frames it shares with
// its neighbours).
constexpr std::int64_t kRunsPerThread = 4;
constexpr std::int64_t kMinFramesPerRun = 16;

SampleLayout layoutOf(const AnalysisJob& job) {
  SampleLayout layout;
  layout.eightBit = job.input8Bit;
  layout.float32 = job.inputFloat;
  layout.channels = static_cast<std::size_t>(job.channels);
  return layout;
}

// One thread's work area. Everything is made by configure; analysing a
// run allocates nothing.
struct AnalysisContext {
  const AnalysisTables* tables = nullptr;
  FftWorkspace fft;
  FftBuffer samples;   // N: the current frame's samples
  FftBuffer frame;     // N: windowed
  FftBuffer spectrum;  // K complex entries
  std::vector<unsigned char> raw;  // the input's bytes of up to N samples
  std::vector<float> binPower;     // K: squared gains of the current frame
  std::vector<float> frameRing;    // kFrameRing x W (short rows) or W (long rows)
  std::vector<double> frameShare;  // the window's share inside the sound, per ring entry
  std::vector<double> rowSums;     // kRowSlots x W (long rows) or W (short rows)
  std::vector<double> rowShare;    // kRowSlots
  std::int64_t loadedFrame = -1;   // the frame `samples` holds
  std::int64_t nextSample = 0;     // read in order: the sample the stream delivers next

  ResultCode configure(const AnalysisTables& t) {
    tables = &t;
    const auto un = static_cast<std::size_t>(t.n);
    const std::size_t w = t.width;
    if (!fft.prepare(t.n)) return kResultNoMemory;
    try {
      samples.assign(un, 0.0);
      frame.assign(un, 0.0);
      spectrum.assign(un, 0.0);
      raw.resize(un * layoutOf(*t.job).frameBytes());
      binPower.assign(un / 2, 0.0f);
      frameRing.assign((t.longRows ? 1 : kFrameRing) * w, 0.0f);
      frameShare.assign(kFrameRing, 0.0);
      rowSums.assign((t.longRows ? kRowSlots : 1) * w, 0.0);
      rowShare.assign(kRowSlots, 0.0);
    } catch (const std::bad_alloc&) {
      return kResultNoMemory;
    } catch (const std::length_error&) {
      return kResultNoMemory;
    }
    return kResultOk;
  }

  // Samples [from, to) into samples[at ...]; zeros outside the sound.
  ResultCode read(std::int64_t from, std::int64_t to, double* at) {
    const AnalysisTables& t = *tables;
    const AnalysisJob& job = *t.job;
    const std::int64_t inFrom = std::clamp<std::int64_t>(from, 0, t.total);
    const std::int64_t inTo = std::clamp<std::int64_t>(to, inFrom, t.total);
    for (std::int64_t i = from; i < inFrom && i < to; ++i) at[i - from] = 0.0;
    const auto count = static_cast<std::size_t>(inTo - inFrom);
    if (count > 0) {
      const SampleLayout layout = layoutOf(job);
      const std::size_t frame = layout.frameBytes();
      bool ok = job.input != nullptr;
      if (ok && t.inputOffset >= 0) {
        ok = readAt(::fileno(job.input), raw.data(), count * frame,
                    t.inputOffset + inFrom * static_cast<std::int64_t>(frame));
      } else if (ok) {
        // A stream read in order delivers each sample once, frames in order.
        if (inFrom != nextSample) return kResultInternal;
        ok = std::fread(raw.data(), frame, count, job.input) == count;
        nextSample = inTo;
      }
      if (!ok) return kResultShortRead;
      samplesToDouble(raw.data(), count, layout, static_cast<std::size_t>(job.channel), at + (inFrom - from));
    }
    for (std::int64_t i = std::max(inTo, from); i < to; ++i) at[i - from] = 0.0;
    return kResultOk;
  }

  // Analyses frame j into `columns` (W squared gains, each for a whole
  // window) and `share` (the part of the window's energy over the sound).
  ResultCode analyseFrame(std::int64_t j, float* columns, double& share) {
    const AnalysisTables& t = *tables;
    const std::int64_t n = t.n;
    const std::int64_t start = j * t.step - n / 2;
    ResultCode result = kResultOk;
    if (loadedFrame >= 0 && j == loadedFrame + 1) {
      // The next frame: keep the overlap, read the new end.
      std::memmove(samples.data(), samples.data() + t.step, static_cast<std::size_t>(n - t.step) * sizeof(double));
      result = read(start + n - t.step, start + n, samples.data() + (n - t.step));
    } else {
      result = read(start, start + n, samples.data());
    }
    if (result != kResultOk) {
      loadedFrame = -1;
      return result;
    }
    loadedFrame = j;

    const std::int64_t inFirst = std::clamp<std::int64_t>(-start, 0, n);
    const std::int64_t inEnd = std::clamp<std::int64_t>(t.total - start, inFirst, n);
    share = (t.windowEnergy[static_cast<std::size_t>(inEnd)] - t.windowEnergy[static_cast<std::size_t>(inFirst)]) /
            t.windowEnergy[static_cast<std::size_t>(n)];

    const double* w = t.window.data();
    const double* in = samples.data();
    double* windowed = frame.data();
    for (std::int64_t m = 0; m < n; ++m) windowed[m] = in[m] * w[m];
    if (!fft.forward(windowed, spectrum.data(), t.n)) return kResultNoMemory;
    const double* y = spectrum.data();
    const double* factor = t.binFactor.data();
    float* power = binPower.data();
    for (std::int32_t k = t.firstBin; k < t.bins; ++k) {
      const double re = y[2 * k];
      const double im = y[2 * k + 1];
      power[k] = static_cast<float>((re * re + im * im) * factor[k]);
    }
    const float* lo = t.columnLo.data();
    const float* hi = t.columnHi.data();
    for (std::uint32_t x = 0; x < t.width; ++x) {
      const double mean = lo[x] < hi[x] || !t.tones ? intervalMean(lo[x], hi[x], power, 1) : 0.0;
      columns[x] = static_cast<float>(t.tones ? mean * static_cast<double>(hi[x] - lo[x]) : mean);
    }
    return kResultOk;
  }

  // Writes row r from its summed squared gains and window share.
  void writeRow(std::int64_t r, const double* sums, double share) {
    const AnalysisTables& t = *tables;
    const AnalysisJob& job = *t.job;
    std::uint8_t* out = job.pixels + static_cast<std::size_t>(t.height - 1 - static_cast<std::uint32_t>(r)) * job.stride;
    // Less than a millionth of a window over the sound tells nothing.
    const double inverse = share > 1e-6 ? 1.0 / share : 0.0;
    for (std::uint32_t x = 0; x < t.width; ++x) {
      const double squared = sums[x] * inverse;
      out[x] = t.brightness(squared > 0.0 ? std::sqrt(squared) : 0.0);
    }
  }

  // Rows [r0, r1): their frames in order, each row written once its last
  // frame is in. `rowDone` is called after every row. Returns 0, 3, 4, 110
  // or 111.
  template <class RowDone>
  ResultCode analyseRows(std::int64_t r0, std::int64_t r1, const std::atomic<bool>* cancel, RowDone&& rowDone) {
    const AnalysisTables& t = *tables;
    const AnalysisJob& job = *t.job;
    const std::size_t w = t.width;
    double lo = 0.0, hi = 0.0;
    t.rowSpan(r0, lo, hi);
    const std::int64_t j0 = t.firstFrame(lo);
    t.rowSpan(r1 - 1, lo, hi);
    const std::int64_t j1 = t.lastFrame(hi);
    loadedFrame = -1;

    std::int64_t next = r0;  // the first row not yet written
    for (std::int64_t j = j0; j <= j1; ++j) {
      if ((job.abort && job.abort->load(std::memory_order_relaxed)) ||
          (cancel && cancel->load(std::memory_order_relaxed))) {
        return kResultAborted;
      }
      const std::size_t slot = t.longRows ? 0 : static_cast<std::size_t>(j % kFrameRing);
      float* columns = frameRing.data() + slot * w;
      double& share = frameShare[slot];
      const ResultCode result = analyseFrame(j, columns, share);
      if (result != kResultOk) return result;

      if (t.longRows) {
        // Every open row that reaches this frame takes its weighted share.
        for (std::int64_t r = next; r < r1; ++r) {
          t.rowSpan(r, lo, hi);
          if (t.firstFrame(lo) > j) break;
          const auto rowSlot = static_cast<std::size_t>(r % kRowSlots);
          double* sums = rowSums.data() + rowSlot * w;
          if (t.firstFrame(lo) == j) {
            std::fill(sums, sums + w, 0.0);
            rowShare[rowSlot] = 0.0;
          }
          const double weight = frameWeight(lo, hi, j);
          if (weight <= 0.0) continue;
          for (std::size_t x = 0; x < w; ++x) sums[x] += weight * static_cast<double>(columns[x]);
          rowShare[rowSlot] += weight * share;
        }
      }

      for (; next < r1; ++next) {
        t.rowSpan(next, lo, hi);
        const std::int64_t last = t.lastFrame(hi);
        if (last > j) break;
        if (t.longRows) {
          const auto rowSlot = static_cast<std::size_t>(next % kRowSlots);
          writeRow(next, rowSums.data() + rowSlot * w, rowShare[rowSlot]);
        } else {
          // Its frames are all in the ring.
          double* sums = rowSums.data();
          std::fill(sums, sums + w, 0.0);
          double rowShareSum = 0.0;
          for (std::int64_t i = t.firstFrame(lo); i <= last; ++i) {
            const double weight = frameWeight(lo, hi, i);
            if (weight <= 0.0) continue;
            const auto ring = static_cast<std::size_t>(i % kFrameRing);
            const float* from = frameRing.data() + ring * w;
            for (std::size_t x = 0; x < w; ++x) sums[x] += weight * static_cast<double>(from[x]);
            rowShareSum += weight * frameShare[ring];
          }
          writeRow(next, sums, rowShareSum);
        }
        rowDone();
      }
    }
    return kResultOk;
  }
};

void reportProgress(const AnalysisJob& job, int thousandths) {
  if (!job.progress) return;
  // Progress is only shown; a failure to show it must not end the analysis
  // nor leave the engine as an exception.
  try {
    job.progress(thousandths);
  } catch (...) {
  }
}

// One context on the calling thread, every row in order.
ResultCode analyseInOrder(const AnalysisTables& tables) {
  const AnalysisJob& job = *tables.job;
  AnalysisContext context;
  ResultCode result = context.configure(tables);
  if (result != kResultOk) return result;
  int shown = 0;
  std::int64_t done = 0;
  reportProgress(job, 0);
  result = context.analyseRows(0, tables.height, nullptr, [&] {
    ++done;
    const int now = static_cast<int>(done * 1000 / tables.height);
    if (now != shown) {
      shown = now;
      reportProgress(job, now);
    }
  });
  return result;
}

// Runs of rows taken by worker threads, each in its own context; the
// calling thread reports progress as runs finish.
class RunPool {
 public:
  RunPool(const AnalysisTables& tables, std::int64_t rowsPerRun)
      : tables_(tables), rowsPerRun_(rowsPerRun), runs_((tables.height + rowsPerRun - 1) / rowsPerRun) {}

  ~RunPool() { finish(); }

  std::size_t start(std::int32_t threads) {
    try {
      workers_.reserve(static_cast<std::size_t>(threads));
      for (std::int32_t i = 0; i < threads; ++i) workers_.emplace_back([this] { work(); });
    } catch (const std::exception&) {
      // No more threads (or no memory for them): those that run do the work.
    }
    return workers_.size();
  }

  // Waits for every run (or the first failure) and reports progress.
  ResultCode wait() {
    const AnalysisJob& job = *tables_.job;
    int shown = 0;
    reportProgress(job, 0);
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      // Every run is taken by a worker that finishes it or fails.
      runDone_.wait(lock, [&] { return finished_ == runs_ || result_ != kResultOk; });
      if (finished_ == runs_ || result_ != kResultOk) break;
      const int now = static_cast<int>(finished_ * 1000 / runs_);
      if (now != shown) {
        shown = now;
        lock.unlock();
        reportProgress(job, now);
        lock.lock();
      }
    }
    const ResultCode result = result_;
    lock.unlock();
    if (result == kResultOk) reportProgress(job, 1000);
    return result;
  }

  void finish() {
    cancel_.store(true, std::memory_order_relaxed);
    for (std::thread& worker : workers_) worker.join();
    workers_.clear();
  }

 private:
  void work() {
    AnalysisContext context;
    ResultCode result = context.configure(tables_);
    while (result == kResultOk) {
      std::int64_t run = 0;
      {
        std::lock_guard<std::mutex> lock(mutex_);
        if (next_ >= runs_ || result_ != kResultOk) break;
        run = next_++;
      }
      const std::int64_t r0 = run * rowsPerRun_;
      const std::int64_t r1 = std::min<std::int64_t>(r0 + rowsPerRun_, tables_.height);
      result = context.analyseRows(r0, r1, &cancel_, [] {});
      std::lock_guard<std::mutex> lock(mutex_);
      if (result == kResultOk) ++finished_;
      runDone_.notify_all();
    }
    std::lock_guard<std::mutex> lock(mutex_);
    // Stopping because another worker failed is no failure of its own.
    if (result != kResultOk && result_ == kResultOk && !(result == kResultAborted && cancel_.load())) {
      result_ = result;
      cancel_.store(true, std::memory_order_relaxed);
    }
    runDone_.notify_all();
  }

  const AnalysisTables& tables_;
  const std::int64_t rowsPerRun_;
  const std::int64_t runs_;
  std::vector<std::thread> workers_;
  std::mutex mutex_;
  std::condition_variable runDone_;
  std::int64_t next_ = 0;
  std::int64_t finished_ = 0;
  ResultCode result_ = kResultOk;
  std::atomic<bool> cancel_{false};
};

}  // namespace

std::uint8_t brightnessOfGain(double gain, const RenderSettings& settings) { return BrightnessMap(settings)(gain); }

std::uint32_t defaultAnalysisRows(const RenderSettings& settings, std::uint32_t sampleCount) {
  const std::int64_t hop = settings.subBlocksPerBlock > 0 ? settings.blockLength / settings.subBlocksPerBlock : 0;
  if (hop <= 0) return 1;
  const std::int64_t rows = (static_cast<std::int64_t>(sampleCount) + hop / 2) / hop;
  return static_cast<std::uint32_t>(std::max<std::int64_t>(1, rows));
}

ResultCode analyseSound(AnalysisJob& job) {
  AnalysisTables tables;
  ResultCode result = kResultOk;
  try {
    result = makeTables(job, tables);
  } catch (const std::bad_alloc&) {
    result = kResultNoMemory;
  }
  if (result != kResultOk) return result;
  if (job.input && job.sampleCount > 0 && streamReadableByPosition(job.input)) {
    tables.inputOffset = static_cast<std::int64_t>(::ftello(job.input));
  }

  std::int32_t threads = job.threads > 0 ? job.threads : availableCores();
  threads = std::min(threads, kMaxRenderThreads);
  // A stream read in order cannot be shared.
  if (tables.inputOffset < 0) threads = 1;
  const std::int64_t height = tables.height;
  const std::int64_t byFrames = std::max<std::int64_t>(1, tables.frames / kMinFramesPerRun);
  const std::int64_t runsWanted = std::min<std::int64_t>({height, byFrames, std::int64_t{threads} * kRunsPerThread});
  const std::int64_t rowsPerRun = (height + runsWanted - 1) / runsWanted;
  const std::int64_t runs = (height + rowsPerRun - 1) / rowsPerRun;
  threads = static_cast<std::int32_t>(std::min<std::int64_t>(threads, runs));
  if (threads <= 1) return analyseInOrder(tables);

  RunPool pool(tables, rowsPerRun);
  if (pool.start(threads) == 0) return analyseInOrder(tables);
  result = pool.wait();
  pool.finish();
  return result;
}

}  // namespace vellomar
