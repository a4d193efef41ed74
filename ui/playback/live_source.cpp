// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/playback/live_source.h"

#include <algorithm>

#include "engine/session.h"

namespace vellomar {

LiveSource::LiveSource(std::shared_ptr<FrameSource> file, std::int64_t frames, int channels, std::uint32_t rate,
                       std::int32_t blockLength)
    : file_(std::move(file)), frames_(frames), channels_(channels), rate_(rate),
      blockLength_(std::max<std::int32_t>(2, blockLength)) {}

bool LiveSource::setSession(std::shared_ptr<RenderSession> session) {
  if (keep_ || !session || session->frames() != frames_ || session->channels() != channels_ ||
      session->firstFrameOfBlock(1) != blockLength_ / 2) {
    return false;
  }
  keep_ = std::move(session);
  layer_.store(keep_.get(), std::memory_order_release);
  return true;
}

// As a session lays out its blocks: the first is half a block long.
std::int64_t LiveSource::blockOf(std::int64_t frame) const { return (frame + blockLength_ / 2) / blockLength_; }

std::int64_t LiveSource::firstFrameOf(std::int64_t block) const {
  return block == 0 ? 0 : block * blockLength_ - blockLength_ / 2;
}

std::uint64_t LiveSource::generation(std::int64_t block) const {
  RenderSession* session = layer_.load(std::memory_order_acquire);
  // The file's frames count as generation 0: a block the session renders
  // is a change from them.
  return session ? session->generation(block) : 0;
}

std::int64_t LiveSource::read(std::int64_t first, std::int64_t count, float* out) {
  RenderSession* session = layer_.load(std::memory_order_acquire);
  count = std::min(count, frames_ - first);
  if (count <= 0) return 0;
  if (session) session->setPlayPosition(first);
  std::int64_t done = 0;
  while (done < count) {
    const std::int64_t frame = first + done;
    const std::int64_t block = blockOf(frame);
    const std::int64_t n = std::min(count - done, firstFrameOf(block + 1) - frame);
    float* to = out + done * channels_;
    std::int64_t got = session && session->generation(block) != 0 ? session->read(frame, n, to) : 0;
    if (got < n && file_) {
      const std::int64_t more = file_->read(frame + got, n - got, to + got * channels_);
      if (more < 0) return done > 0 ? done : -1;
      got += more;
    }
    done += got;
    if (got < n) break;
  }
  return done;
}

std::string LiveSource::failure() const { return file_ ? file_->failure() : std::string(); }

}  // namespace vellomar
