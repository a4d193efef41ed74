// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/playback/play_cursor.h"

#include <algorithm>

namespace vellomar {

PlayCursor::PlayCursor(FrameSource& source, std::int64_t maxBufferFrames, std::int64_t fadeFrames)
    : source_(source),
      channels_(source.channels()),
      end_(source.frameCount()),
      maxBufferFrames_(std::max<std::int64_t>(1, maxBufferFrames)),
      fadeFrames_(std::clamp<std::int64_t>(fadeFrames, 1, std::max<std::int64_t>(1, maxBufferFrames))),
      scratch_(static_cast<std::size_t>((maxBufferFrames_ + fadeFrames_) * channels_)),
      kept_(static_cast<std::size_t>(fadeFrames_ * channels_)) {}

PlayCursor::Generations PlayCursor::generationsAt(std::int64_t frame) const {
  Generations g;
  if (frame < 0 || frame >= end_) return g;
  g.firstBlock = source_.blockOf(frame);
  const std::int64_t lastBlock = source_.blockOf(std::min(frame + fadeFrames_, end_) - 1);
  g.value[0] = source_.generation(g.firstBlock);
  if (lastBlock != g.firstBlock) g.value[1] = source_.generation(lastBlock);
  return g;
}

void PlayCursor::start(std::int64_t frame) {
  next_ = std::clamp<std::int64_t>(frame, 0, end_);
  std::fill(kept_.begin(), kept_.end(), 0.0f);
  keptFrom_ = next_;
  keptGenerations_ = generationsAt(next_);
  // From the start the sound begins as it is; from anywhere else it is
  // faded in.
  fadeNext_ = next_ != 0;
  missing_ = 0;
}

void PlayCursor::jump(std::int64_t frame) { next_ = std::clamp<std::int64_t>(frame, 0, end_); }

void PlayCursor::seek(std::int64_t frame) { jump(frame); }

void PlayCursor::setLoop(std::int64_t from, std::int64_t to) {
  if (to <= from || end_ < maxBufferFrames_) {
    loopFrom_ = loopTo_ = 0;
    return;
  }
  from = std::clamp<std::int64_t>(from, 0, end_);
  to = std::clamp<std::int64_t>(to, 0, end_);
  if (to - from < maxBufferFrames_) {
    to = std::min(end_, from + maxBufferFrames_);
    from = std::max<std::int64_t>(0, to - maxBufferFrames_);
  }
  loopFrom_ = from;
  loopTo_ = to;
}

bool PlayCursor::fill(float* out, std::int64_t frames, std::int64_t& filled) {
  frames = std::min(frames, maxBufferFrames_);
  filled = 0;
  runCount_ = 0;
  while (filled < frames) {
    // Runs stop at the loop's end, so playing there came from inside.
    if (looping() && next_ == loopTo_) jump(loopFrom_);
    const std::int64_t limit = looping() && next_ < loopTo_ ? loopTo_ : end_;
    if (next_ >= limit) break;  // the end of the sound
    if (runCount_ == kMaxRuns) break;
    const std::int64_t n = std::min(frames - filled, limit - next_);
    runs_[static_cast<std::size_t>(runCount_++)] = Run{filled, next_, n};
    if (!readRun(n, out + filled * channels_)) return false;
    filled += n;
  }
  return true;
}

bool PlayCursor::readRun(std::int64_t frames, float* out) {
  const std::int64_t from = next_;
  // Generations before samples: a block that changes meanwhile is seen
  // as changed next time, never missed.
  const Generations now = generationsAt(from);
  const Generations after = generationsAt(from + frames);
  const std::int64_t want = std::min(frames + fadeFrames_, end_ - from);
  const std::int64_t got = source_.read(from, want, scratch_.data());
  if (got < 0) return false;
  std::fill(scratch_.begin() + got * channels_, scratch_.end(), 0.0f);
  if (got < frames) missing_ += frames - got;
  if (got < want) {
    // Into the silence of what is not rendered yet without a click: the
    // frames before it fade out, on a ramp fixed to where it begins, so
    // that the buffers that read them before it agree.
    for (std::int64_t i = std::max<std::int64_t>(0, got - fadeFrames_); i < got; ++i) {
      const float w = static_cast<float>(got - i) / static_cast<float>(fadeFrames_ + 1);
      for (int c = 0; c < channels_; ++c) scratch_[static_cast<std::size_t>(i * channels_ + c)] *= w;
    }
  }

  std::int64_t i = 0;
  const bool continues = !fadeNext_ && from == keptFrom_ && now == keptGenerations_;
  if (!continues) {
    const std::int64_t fade = std::min(fadeFrames_, frames);
    for (; i < fade; ++i) {
      const float w = static_cast<float>(i + 1) / static_cast<float>(fade + 1);
      for (int c = 0; c < channels_; ++c) {
        const std::size_t k = static_cast<std::size_t>(i * channels_ + c);
        out[k] = kept_[k] + w * (scratch_[k] - kept_[k]);
      }
    }
  }
  std::copy(scratch_.begin() + i * channels_, scratch_.begin() + frames * channels_, out + i * channels_);
  std::copy(scratch_.begin() + frames * channels_, scratch_.begin() + (frames + fadeFrames_) * channels_,
            kept_.begin());
  keptFrom_ = from + frames;
  keptGenerations_ = after;
  fadeNext_ = false;
  next_ = from + frames;
  return true;
}

void PlayCursor::fadeOut(float* out) {
  for (std::int64_t i = 0; i < fadeFrames_; ++i) {
    const float w = 1.0f - static_cast<float>(i + 1) / static_cast<float>(fadeFrames_ + 1);
    for (int c = 0; c < channels_; ++c) {
      const std::size_t k = static_cast<std::size_t>(i * channels_ + c);
      out[k] = w * kept_[k];
    }
  }
}

}  // namespace vellomar
