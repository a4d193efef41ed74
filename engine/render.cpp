#include "engine/render.h"

#include <algorithm>
#include <cmath>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <new>
#include <exception>
#include <thread>
#include <vector>

#include "engine/cache.h"
#include "engine/context.h"
#include "engine/design.h"
#include "engine/source.h"

namespace vellomar {
namespace {

// Output bytes a run may hold at most: runs are cut so that their buffers
// stay this small whatever the duration.
constexpr std::int64_t kMaxRunBytes = std::int64_t{1} << 20;
// Runs per thread the render aims at, so that the threads finish together.
constexpr std::int64_t kRunsPerThread = 4;

inline void storeSample(double v, unsigned char* out, RenderLevels& levels) {
  // Written so that a value that is not a number clips.
  if (!(v >= -32768.0 && v <= 32767.0)) ++levels.clippedSamples;
  levels.peak = std::max(levels.peak, std::fabs(v));
  const auto bits = static_cast<std::uint16_t>(toOutputSample(v));
  out[0] = static_cast<unsigned char>(bits & 0xFF);
  out[1] = static_cast<unsigned char>(bits >> 8);
}

// Closes a stream; reports whether everything it held reached the file.
bool closeStream(std::FILE*& stream) {
  if (!stream) return true;
  bool ok = std::fflush(stream) == 0 && !std::ferror(stream);
  ok = std::fclose(stream) == 0 && ok;
  stream = nullptr;
  return ok;
}

bool requested(const std::atomic<bool>* flag) { return flag && flag->load(std::memory_order_relaxed); }

// The hop's samples under filter column `column`: this block's segment plus
// the tail of the block before. False when the cache failed (`result` says
// why).
bool sumSegments(RenderContext& context, std::int32_t block, std::int32_t column, std::int64_t u, double* out,
                 std::size_t hop, ResultCode& result) {
  const double* seg = getFilteredSegment(context, block, column, u, result);
  if (!seg) return false;
  std::copy(seg, seg + hop, out);
  if (block > 0) {
    seg = getFilteredSegment(context, block - 1, column, u, result);
    if (!seg) return false;
    for (std::size_t k = 0; k < hop; ++k) out[k] += seg[k];
  }
  return true;
}

// Renders the hops of blocks [firstBlock, endBlock) of the context's job.
// beforeBlock(b) runs before block b's hops, afterBlock() after them;
// write(bytes, count) takes each hop's output and returns false when the
// output failed. The context's source must stand at block firstBlock - 1
// (block 0 for the first run): a run that does not start the render first
// reads the block before its own, whose tail its first hops add.
template <class BeforeBlock, class AfterBlock, class Write>
ResultCode renderRun(RenderContext& context, std::int64_t firstBlock, std::int64_t endBlock,
                     const std::atomic<bool>* cancel, BeforeBlock&& beforeBlock, AfterBlock&& afterBlock,
                     Write&& write) {
  const RenderJob& job = *context.job;
  const std::int64_t n = job.settings.blockLength;
  const std::int64_t s = job.settings.subBlocksPerBlock;
  const std::int64_t h = n / s;
  const auto hop = static_cast<std::size_t>(h);
  const double inverseHop = 1.0 / static_cast<double>(h);
  const double g = masterGainFactor(job.settings.masterGainDb);
  // Output sample k is timeline sample k + N/2; the output ends at this
  // timeline position.
  const std::int64_t end = static_cast<std::int64_t>(job.sampleCount) + n / 2;
  const bool sine = job.settings.inputSource == InputSource::SineTones;
  double* x = context.hopX.data();
  double* y = context.hopY.data();
  unsigned char* bytes = context.hopBytes.data();

  ResultCode result = kResultOk;
  if (firstBlock > 0 && !sine) {
    // The previous block, under the first hop's filter: exactly what the
    // cache would hold had this context rendered the blocks before.
    const auto before = static_cast<std::int32_t>(firstBlock - 1);
    const auto column = static_cast<std::int32_t>(firstBlock * s);
    if (!getFilteredSegment(context, before, column, firstBlock * s, result)) return result;
  }
  for (std::int64_t b = firstBlock; b < endBlock; ++b) {
    beforeBlock(b);
    const auto block = static_cast<std::int32_t>(b);
    for (std::int64_t j = 0; j < s; ++j) {
      if (b == 0 && j < s / 2) continue;  // before output sample 0
      const std::int64_t u = b * s + j;
      const std::int64_t hopStart = b * n + j * h;
      const bool last = hopStart + h >= end;

      // The hop fades from filter column u (from) to column u + 1 (to).
      const double* from = x;
      const double* to = y;
      if (sine) {
        result = sineHopSignals(context.sine, context.gains, u, from, to);
        if (result != kResultOk) return result;
      } else {
        const auto column = static_cast<std::int32_t>(u);
        if (!sumSegments(context, block, column, u, x, hop, result) ||
            !sumSegments(context, block, column + 1, u, y, hop, result)) {
          return result;
        }
      }

      const std::int64_t first = b == 0 ? std::max<std::int64_t>(0, n / 2 - j * h) : 0;
      const std::int64_t stop = last ? end - hopStart : h;
      for (std::int64_t k = first; k < stop; ++k) {
        storeSample(hopFade(from, to, k, inverseHop, g), bytes + 2 * (k - first), context.levels);
      }
      if (!write(bytes, static_cast<std::size_t>(2 * (stop - first)))) return kResultWriteFailed;
      if (last) return kResultOk;
      if (requested(job.abort) || requested(cancel)) return kResultAborted;
    }
    afterBlock();
  }
  return kResultOk;
}

void reportProgress(const RenderJob& job, std::int64_t block, std::int64_t blocks) {
  if (!job.progress) return;
  // Progress is only shown; a failure to show it must not end the render
  // nor leave the engine as an exception.
  try {
    job.progress(static_cast<int>(block * 1000 / blocks));
  } catch (...) {
  }
}

// One context, every block, each hop written as it is made.
ResultCode renderInOrder(RenderJob& job, const float* gains, const SineTables* sine, std::int64_t blocks) {
  RenderContext context;
  ResultCode result = configureRenderContext(context, job, gains, sine);
  if (result != kResultOk) return result;
  result = renderRun(
      context, 0, blocks, nullptr, [&](std::int64_t b) { reportProgress(job, b, blocks); }, [] {},
      [&](const unsigned char* bytes, std::size_t count) {
        if (count > 0 && std::fwrite(bytes, 1, count, job.output) != count) return false;
        return !std::ferror(job.output) && !std::feof(job.output);
      });
  if (drawsNoise(job.settings.inputSource)) job.noiseState = context.noiseState;
  job.levels = context.levels;
  return result;
}

// The gain matrices a render reads: one per output channel.
constexpr int kMaxChannels = 2;
struct ChannelGains {
  const float* channel[kMaxChannels] = {};
  int count = 1;
  const SineTables* sine = nullptr;  // a sine render's tables
};

// Runs rendered into a ring of buffers and written by the calling thread in
// order. Each run is one task per channel: the channel's samples of the
// run's blocks, rendered exactly as a mono render of that channel's gains
// renders them, and stored into the run's buffer at the channel's place in
// every frame. Worker threads take the tasks in order; without workers the
// calling thread renders each run's tasks itself before writing the run.
class RunPipeline {
 public:
  RunPipeline(const RenderJob& job, const ChannelGains& gains, std::int64_t blocks, std::int64_t perRun)
      : job_(job),
        gains_(gains),
        channels_(gains.count),
        blocks_(blocks),
        perRun_(perRun),
        runs_((blocks + perRun - 1) / perRun),
        tasks_(runs_ * gains.count) {}

  // Makes the ring's buffers. False when memory is short.
  bool makeSlots(std::size_t count) {
    const auto capacity = static_cast<std::size_t>(perRun_) * static_cast<std::size_t>(job_.settings.blockLength) * 2 *
                          static_cast<std::size_t>(channels_);
    try {
      slots_ = std::vector<Slot>(count);
      for (Slot& slot : slots_) slot.bytes.resize(capacity);
    } catch (const std::bad_alloc&) {
      slots_.clear();
      return false;
    }
    return true;
  }

  // Starts up to `threads` workers; returns how many run.
  std::size_t start(std::int32_t threads) {
    try {
      workers_.reserve(static_cast<std::size_t>(threads));
      for (std::int32_t i = 0; i < threads; ++i) workers_.emplace_back([this] { work(); });
    } catch (const std::exception&) {
      // No more threads (or no memory for them): those that run do the work.
    }
    return workers_.size();
  }

  // Writes the runs in order and reports progress; stops at the first
  // failure in output order. Returns the render's result and the number of
  // blocks the output got through.
  ResultCode writeRuns(std::FILE* output, std::int64_t& blocksReached, RenderLevels& levels) {
    ResultCode result = kResultOk;
    std::int64_t nextProgress = 0;
    auto reportUpTo = [&](std::int64_t doneBlocks) {
      const std::int64_t upTo = std::min(doneBlocks, blocks_ - 1);
      for (; nextProgress <= upTo; ++nextProgress) reportProgress(job_, nextProgress, blocks_);
    };
    reportUpTo(0);
    blocksReached = 0;
    const bool renderHere = workers_.empty();
    for (std::int64_t r = 0; r < runs_ && result == kResultOk; ++r) {
      Slot& slot = slots_[static_cast<std::size_t>(r) % slots_.size()];
      const std::int64_t first = r * perRun_;
      if (renderHere) renderRunHere(r);
      std::unique_lock<std::mutex> lock(mutex_);
      for (;;) {
        const std::int64_t shown = nextProgress - first;
        runChanged_.wait(lock, [&] { return slot.run == r && (finished(slot) || blocksDone(slot) >= shown); });
        const bool done = finished(slot);
        const std::int64_t doneBlocks = blocksDone(slot);
        lock.unlock();
        reportUpTo(first + doneBlocks);
        blocksReached = first + doneBlocks;
        lock.lock();
        if (done) break;
      }
      // The first failure in channel order is the run's.
      for (int c = 0; c < channels_ && result == kResultOk; ++c) result = slot.result[c];
      for (int c = 0; c < channels_; ++c) levels.add(slot.levels[c]);
      const std::size_t used = slot.frames[0] * 2 * static_cast<std::size_t>(channels_);
      lock.unlock();
      if (result != kResultOk) {
        blocksReached = std::min(blocks_, blocksReached + 1);
        break;
      }
      if (used > 0 && std::fwrite(slot.bytes.data(), 1, used, output) != used) result = kResultWriteFailed;
      if (std::ferror(output) || std::feof(output)) result = kResultWriteFailed;
      // Between runs as between hops: an abort after the last hop of the
      // output is too late to matter.
      if (result == kResultOk && r + 1 < runs_ && requested(job_.abort)) result = kResultAborted;
      lock.lock();
      written_ = r + 1;
      lock.unlock();
      slotFreed_.notify_all();
    }
    return result;
  }

  // Stops the workers (after the task each is on) and waits for them.
  void finish() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stop_ = true;
    }
    cancel_.store(true, std::memory_order_relaxed);
    slotFreed_.notify_all();
    for (std::thread& worker : workers_) worker.join();
    workers_.clear();
  }

  ~RunPipeline() { finish(); }

 private:
  struct Slot {
    std::vector<unsigned char> bytes;  // the run's frames, channels interleaved
    std::int64_t run = -1;
    std::size_t frames[kMaxChannels] = {};       // frames each channel has stored
    std::int64_t blocksDone[kMaxChannels] = {};  // blocks each channel has finished
    int finishedChannels = 0;
    ResultCode result[kMaxChannels] = {};
    RenderLevels levels[kMaxChannels];  // of each channel's samples
  };

  // Under the lock.
  bool finished(const Slot& slot) const { return slot.finishedChannels == channels_; }
  std::int64_t blocksDone(const Slot& slot) const {
    std::int64_t least = slot.blocksDone[0];
    for (int c = 1; c < channels_; ++c) least = std::min(least, slot.blocksDone[c]);
    return least;
  }

  // Takes task `t` (channel t % channels of run t / channels), under the
  // lock. Tasks are taken in order, so a run's slot is made ready when its
  // first channel is taken, before any other channel of it.
  Slot& claim(std::int64_t t) {
    const std::int64_t r = t / channels_;
    Slot& slot = slots_[static_cast<std::size_t>(r) % slots_.size()];
    if (t % channels_ == 0) {
      slot.run = r;
      slot.finishedChannels = 0;
      for (int c = 0; c < kMaxChannels; ++c) {
        slot.frames[c] = 0;
        slot.blocksDone[c] = 0;
        slot.result[c] = kResultOk;
        slot.levels[c] = RenderLevels{};
      }
    }
    return slot;
  }

  // Renders task `t` into its slot in `context` (configured with result
  // `configured`).
  void renderTask(RenderContext& context, ResultCode configured, std::int64_t t, Slot& slot) {
    const std::int64_t r = t / channels_;
    const auto c = static_cast<int>(t % channels_);
    ResultCode result = configured;
    if (result == kResultOk) {
      const std::int64_t first = r * perRun_;
      const std::int64_t end = std::min(first + perRun_, blocks_);
      context.gains = gains_.channel[c];
      resetFilteredBlockCache(context);
      seekSource(context, static_cast<std::int32_t>(first > 0 ? first - 1 : 0));
      const std::size_t frameBytes = 2 * static_cast<std::size_t>(channels_);
      unsigned char* out = slot.bytes.data() + 2 * static_cast<std::size_t>(c);
      std::size_t frames = 0;
      context.levels = RenderLevels{};
      result = renderRun(
          context, first, end, &cancel_, [](std::int64_t) {},
          [&] {
            {
              std::lock_guard<std::mutex> lock(mutex_);
              slot.frames[c] = frames;
              ++slot.blocksDone[c];
            }
            runChanged_.notify_all();
          },
          [&](const unsigned char* bytes, std::size_t count) {
            const std::size_t samples = count / 2;
            if (channels_ == 1) {
              std::copy(bytes, bytes + count, out + 2 * frames);
            } else {
              unsigned char* at = out + frames * frameBytes;
              for (std::size_t i = 0; i < samples; ++i, at += frameBytes) {
                at[0] = bytes[2 * i];
                at[1] = bytes[2 * i + 1];
              }
            }
            frames += samples;
            return true;
          });
      std::lock_guard<std::mutex> lock(mutex_);
      slot.frames[c] = frames;
      slot.levels[c] = context.levels;
    }
    {
      std::lock_guard<std::mutex> lock(mutex_);
      slot.result[c] = result;
      ++slot.finishedChannels;
    }
    runChanged_.notify_all();
  }

  void work() {
    RenderContext context;
    const ResultCode configured = configureRenderContext(context, job_, gains_.channel[0], gains_.sine);
    for (;;) {
      std::int64_t t = 0;
      Slot* slot = nullptr;
      {
        std::unique_lock<std::mutex> lock(mutex_);
        slotFreed_.wait(lock, [&] {
          return stop_ || next_ >= tasks_ || next_ / channels_ - written_ < static_cast<std::int64_t>(slots_.size());
        });
        if (stop_ || next_ >= tasks_) return;
        t = next_++;
        slot = &claim(t);
      }
      renderTask(context, configured, t, *slot);
    }
  }

  // Without workers: every task of run r, on the calling thread. Once a
  // channel has failed (an abort included) the others take its failure
  // without rendering.
  void renderRunHere(std::int64_t r) {
    if (!here_) {
      here_ = std::make_unique<RenderContext>();
      hereConfigured_ = configureRenderContext(*here_, job_, gains_.channel[0], gains_.sine);
    }
    ResultCode failed = hereConfigured_;
    for (int c = 0; c < channels_; ++c) {
      const std::int64_t t = r * channels_ + c;
      Slot* slot = nullptr;
      {
        std::lock_guard<std::mutex> lock(mutex_);
        next_ = t + 1;
        slot = &claim(t);
      }
      renderTask(*here_, failed, t, *slot);
      std::lock_guard<std::mutex> lock(mutex_);
      if (failed == kResultOk) failed = slot->result[c];
    }
  }

  const RenderJob& job_;
  const ChannelGains gains_;
  const int channels_;
  const std::int64_t blocks_;
  const std::int64_t perRun_;
  const std::int64_t runs_;
  const std::int64_t tasks_;
  std::vector<Slot> slots_;
  std::vector<std::thread> workers_;
  std::mutex mutex_;
  std::condition_variable slotFreed_;   // a slot was written, or the render stops
  std::condition_variable runChanged_;  // a block or a task was finished
  std::int64_t next_ = 0;               // the next task to take
  std::int64_t written_ = 0;            // runs written so far
  bool stop_ = false;
  std::atomic<bool> cancel_{false};  // polled between hops
  // The calling thread's context, when it renders the tasks itself.
  std::unique_ptr<RenderContext> here_;
  ResultCode hereConfigured_ = kResultOk;
};

// Blocks a run holds when the calling thread renders a stereo render's
// runs by itself: short runs keep its progress moving, at the cost of the
// block each run reads before its own.
constexpr std::int64_t kBlocksPerRunHere = 8;

// Blocks per run for `threads` threads and `channels` tasks per run: enough
// tasks for the threads to end together, each run's output at most
// kMaxRunBytes.
std::int64_t blocksPerRun(const RenderJob& job, std::int64_t blocks, std::int32_t threads, int channels) {
  if (job.blocksPerRun > 0) return job.blocksPerRun;
  const std::int64_t n = job.settings.blockLength;
  const std::int64_t most = std::max<std::int64_t>(1, kMaxRunBytes / (2 * n * channels));
  const std::int64_t tasks = kRunsPerThread * threads;
  const std::int64_t even = (blocks * channels + tasks - 1) / tasks;
  const std::int64_t perRun = std::clamp<std::int64_t>(even, 1, most);
  return channels > 1 && threads <= 1 ? std::min(perRun, kBlocksPerRunHere) : perRun;
}

ResultCode renderBlocks(RenderJob& job, const ChannelGains& gains, std::int64_t blocks) {
  std::int32_t threads = job.threads > 0 ? job.threads : availableCores();
  threads = std::min(threads, kMaxRenderThreads);
  if (job.settings.inputSource == InputSource::WaveFile && job.sampleCount > 0 && !inputReadableByPosition(job)) {
    // A wave read in order from its stream cannot be shared, nor read
    // again for a second channel.
    if (gains.count > 1) return kResultInternal;
    threads = 1;
  }
  const std::int64_t perRun = blocksPerRun(job, blocks, threads, gains.count);
  const std::int64_t runs = (blocks + perRun - 1) / perRun;
  threads = static_cast<std::int32_t>(std::min<std::int64_t>(threads, runs * gains.count));
  if (gains.count == 1 && threads <= 1) return renderInOrder(job, gains.channel[0], gains.sine, blocks);

  RunPipeline pipeline(job, gains, blocks, perRun);
  if (!pipeline.makeSlots(2 * static_cast<std::size_t>(std::max(threads, 1)))) return kResultNoMemory;
  // With one thread, or when none can be started, a stereo render renders
  // its runs on this thread between writes.
  const std::size_t started = threads > 1 ? pipeline.start(threads) : 0;
  if (started == 0 && gains.count == 1) {
    pipeline.finish();
    return renderInOrder(job, gains.channel[0], gains.sine, blocks);
  }
  std::int64_t blocksReached = 0;
  job.levels = RenderLevels{};
  const ResultCode result = pipeline.writeRuns(job.output, blocksReached, job.levels);
  pipeline.finish();
  if (drawsNoise(job.settings.inputSource)) {
    // Every channel drew the same noise: the generator moves on as for one.
    const std::int64_t reached = result == kResultOk ? blocks : blocksReached;
    const std::uint64_t steps =
        static_cast<std::uint64_t>(reached) * static_cast<std::uint64_t>(job.settings.blockLength);
    job.noiseState = advanceNoiseState(job.noiseState, steps);
  }
  return result;
}

}  // namespace

std::int16_t toOutputSample(double v) {
  // Written so that a value that is not a number fails the first test.
  if (!(v < 32767.0)) {
    v = 32767.0;
  } else if (v <= -32768.0) {
    v = -32768.0;
  }
  return static_cast<std::int16_t>(static_cast<int>(v + 0.5));
}

ResultCode renderSound(RenderJob& job) {
  ResultCode result = kResultOk;
  const std::int32_t n = job.settings.blockLength;
  const std::int32_t s = job.settings.subBlocksPerBlock;
  const PictureData& picture = job.picture;
  const bool noise = drawsNoise(job.settings.inputSource);

  const int channels = outputChannels(job.settings);
  const std::size_t pixels = static_cast<std::size_t>(picture.width) * picture.height;

  std::vector<float> gains;
  // The hops must tile each block exactly: with a sub-block count that
  // does not divide the block length, samples between the last hop and the
  // next block would never be written and the file would fall short of its
  // header.
  if (!isPowerOfTwo(n) || n < 4 || s < 1 || s > n || n % s != 0 || !job.output ||
      (noise && !validNoiseState(job.noiseState))) {
    result = kResultInternal;
  } else if (picture.width == 0 || picture.height == 0 || !picture.pixels) {
    result = kResultInternal;
  } else {
    try {
      gains.resize(pixels * static_cast<std::size_t>(channels));
    } catch (const std::bad_alloc&) {
      result = kResultNoMemory;
    } catch (const std::length_error&) {
      result = kResultNoMemory;
    }
  }

  if (result == kResultOk) {
    ChannelGains channelGains;
    channelGains.count = channels;
    if (channels == 1) {
      buildGainMatrix(picture, job.settings, gains.data());
      channelGains.channel[0] = gains.data();
    } else {
      // Left from red, right from green, each read as the brightness of a
      // grey picture; a picture without colour is grey in both.
      const std::uint8_t* planes[kMaxChannels] = {picture.red, picture.green};
      for (int c = 0; c < channels; ++c) {
        PictureData plane = picture;
        if (planes[c]) plane.pixels = planes[c];
        float* channelGainsAt = gains.data() + pixels * static_cast<std::size_t>(c);
        buildGainMatrix(plane, job.settings, channelGainsAt);
        channelGains.channel[c] = channelGainsAt;
      }
    }
    const auto blocks = static_cast<std::int64_t>(blockCount(job.sampleCount, n));
    SineTables sine;
    if (job.settings.inputSource == InputSource::SineTones) {
      result = prepareSineTables(sine, job);
      channelGains.sine = &sine;
    }
    if (result == kResultOk) result = renderBlocks(job, channelGains, blocks);
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
