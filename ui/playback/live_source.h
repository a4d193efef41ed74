// SPDX-License-Identifier: GPL-3.0-or-later
// What the window plays while the sound is rendered again in the
// background: the generated file, with every block that a render session
// has rendered since laid over it. Before the session has rendered a block
// the file's frames play there; once it has, the session's (cross-faded
// by the player when they differ). Without a file, the session's blocks
// alone, silence where none is rendered yet.
//
// The player's reads tell the session where playing is, so that it
// renders from there on first and stays ahead of the playhead.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "ui/playback/frame_source.h"

namespace vellomar {

class RenderSession;

class LiveSource : public FrameSource {
 public:
  // Over `file` (may be null), `frames` frames of `channels` channels at
  // `rate` (the file's, when there is one), in blocks of `blockLength`
  // frames (the render's N) as a session lays them out.
  LiveSource(std::shared_ptr<FrameSource> file, std::int64_t frames, int channels, std::uint32_t rate,
             std::int32_t blockLength);

  // Lays `session` over the file from now on; once only, and only a
  // session of this source's frames, channels and block length (false
  // otherwise). The source keeps it alive.
  bool setSession(std::shared_ptr<RenderSession> session);
  // Whether `session` is the one laid over the file.
  bool hasSession(const RenderSession* session) const { return layer_.load() == session; }

  int channels() const override { return channels_; }
  std::uint32_t sampleRate() const override { return rate_; }
  std::int64_t frameCount() const override { return frames_; }
  std::int64_t blockOf(std::int64_t frame) const override;
  std::int64_t read(std::int64_t first, std::int64_t count, float* out) override;
  std::uint64_t generation(std::int64_t block) const override;
  std::string failure() const override;

 private:
  std::int64_t firstFrameOf(std::int64_t block) const;

  std::shared_ptr<FrameSource> file_;
  std::int64_t frames_;
  int channels_;
  std::uint32_t rate_;
  std::int32_t blockLength_;
  std::shared_ptr<RenderSession> keep_;     // set once, before layer_
  std::atomic<RenderSession*> layer_{nullptr};
};

}  // namespace vellomar
