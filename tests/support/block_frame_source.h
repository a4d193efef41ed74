// SPDX-License-Identifier: GPL-3.0-or-later
// A frame source for tests and benchmarks that the caller renders into
// block by block, from any thread, while a player reads it: blocks are
// published whole (a new buffer swapped in), each with a new generation;
// a block not published yet is not there. Reads can be made to stall, as
// a slow disk or a busy machine would stall them.
#pragma once

#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "ui/playback/frame_source.h"

namespace vellomar::test {

class BlockFrameSource : public FrameSource {
 public:
  BlockFrameSource(std::int64_t frameCount, std::int64_t blockFrames, int channels = 1, std::uint32_t rate = 44100)
      : frames_(frameCount), blockFrames_(blockFrames), channels_(channels), rate_(rate),
        blocks_(static_cast<std::size_t>((frameCount + blockFrames - 1) / blockFrames)),
        generations_(blocks_.size()) {
    for (auto& b : blocks_) b.store(nullptr);
    for (auto& g : generations_) g.store(0);
  }
  ~BlockFrameSource() override {
    for (auto& b : blocks_) delete[] b.load();
  }

  std::int64_t blockCount() const { return static_cast<std::int64_t>(blocks_.size()); }
  std::int64_t framesIn(std::int64_t block) const {
    return std::min(blockFrames_, frames_ - block * blockFrames_);
  }

  // Publishes block `block` with the samples sample(frame, channel) for
  // each of its frames (full scale +-1).
  template <typename F>
  void publish(std::int64_t block, F sample) {
    const std::int64_t n = framesIn(block);
    auto* data = new float[static_cast<std::size_t>(n * channels_)];
    for (std::int64_t i = 0; i < n; ++i) {
      for (int c = 0; c < channels_; ++c) data[i * channels_ + c] = sample(block * blockFrames_ + i, c);
    }
    // The new samples first, then the number that tells of them; the old
    // buffer stays alive, as a reader may still be copying it.
    const float* old = blocks_[static_cast<std::size_t>(block)].exchange(data, std::memory_order_acq_rel);
    generations_[static_cast<std::size_t>(block)].fetch_add(1, std::memory_order_release);
    if (old) {
      const std::lock_guard<std::mutex> lock(retiredMutex_);
      retired_.emplace_back(old);
    }
  }
  template <typename F>
  void publishAll(F sample) {
    for (std::int64_t b = 0; b < blockCount(); ++b) publish(b, sample);
  }

  // The first read that reaches frame `frame` waits `milliseconds` before
  // it answers, as a read held up by a busy machine would.
  void stallOnceAt(std::int64_t frame, int milliseconds) {
    stallMilliseconds_.store(milliseconds);
    stallFrame_.store(frame);
  }
  // From frame `frame` on, reads fail (with `why`); -1 never.
  void failFrom(std::int64_t frame, std::string why) {
    failure_ = std::move(why);
    failFrame_.store(frame);
  }
  std::int64_t reads() const { return reads_.load(); }
  int stalls() const { return stalls_.load(); }

  int channels() const override { return channels_; }
  std::uint32_t sampleRate() const override { return rate_; }
  std::int64_t frameCount() const override { return frames_; }
  std::int64_t blockOf(std::int64_t frame) const override { return frame / blockFrames_; }
  std::uint64_t generation(std::int64_t block) const override {
    return generations_[static_cast<std::size_t>(block)].load(std::memory_order_acquire);
  }
  std::string failure() const override { return failed_.load() ? failure_ : std::string(); }

  std::int64_t read(std::int64_t first, std::int64_t count, float* out) override {
    reads_.fetch_add(1);
    const std::int64_t fail = failFrame_.load();
    if (failed_.load() || (fail >= 0 && first + count > fail)) {
      failed_.store(true);
      return -1;
    }
    std::int64_t stall = stallFrame_.load();
    if (stall >= 0 && first + count > stall && stallFrame_.compare_exchange_strong(stall, -1)) {
      std::this_thread::sleep_for(std::chrono::milliseconds(stallMilliseconds_.load()));
      stalls_.fetch_add(1);
    }
    std::int64_t done = 0;
    count = std::min(count, frames_ - first);
    while (done < count) {
      const std::int64_t frame = first + done;
      const std::int64_t block = frame / blockFrames_;
      const float* data = blocks_[static_cast<std::size_t>(block)].load(std::memory_order_acquire);
      if (!data) break;
      const std::int64_t inBlock = frame - block * blockFrames_;
      const std::int64_t n = std::min(count - done, framesIn(block) - inBlock);
      std::copy(data + inBlock * channels_, data + (inBlock + n) * channels_, out + done * channels_);
      done += n;
    }
    return done;
  }

 private:
  std::int64_t frames_;
  std::int64_t blockFrames_;
  int channels_;
  std::uint32_t rate_;
  std::vector<std::atomic<const float*>> blocks_;
  std::vector<std::atomic<std::uint64_t>> generations_;
  std::mutex retiredMutex_;
  std::vector<std::unique_ptr<const float[]>> retired_;
  std::atomic<std::int64_t> stallFrame_{-1};
  std::atomic<int> stallMilliseconds_{0};
  std::atomic<std::int64_t> failFrame_{-1};
  std::atomic<bool> failed_{false};
  std::string failure_;
  std::atomic<std::int64_t> reads_{0};
  std::atomic<int> stalls_{0};
};

}  // namespace vellomar::test
