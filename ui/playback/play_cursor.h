// SPDX-License-Identifier: GPL-3.0-or-later
// Where the player is in a sound and what it hands to the audio output
// next: the audio thread's own state, touched by no other thread.
//
// Each buffer is read from the source as it is at that moment. Together
// with a buffer the cursor reads a few milliseconds past its end and keeps
// them, with the generations of their blocks: the continuation of what
// was just handed over. When the next buffer does not continue it (a jump
// to a play-from point, a loop coming round, or a block ahead that a
// render has changed since), the buffer starts with a cross-fade from the
// kept continuation to the new samples, so the change is heard at once
// and without a click, inside a block too.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "ui/playback/frame_source.h"

namespace vellomar {

class PlayCursor {
 public:
  // A run of frames handed over in one piece: `frames` frames from sound
  // frame `soundFrame`, starting `offset` frames into the buffer.
  struct Run {
    std::int64_t offset = 0;
    std::int64_t soundFrame = 0;
    std::int64_t frames = 0;
  };
  // At most this many runs make one buffer (a loop is never shorter than
  // a buffer, so it comes round at most once in one).
  static constexpr int kMaxRuns = 3;

  // Buffers of up to `maxBufferFrames` frames from `source`, changes
  // cross-faded over `fadeFrames` frames (at most maxBufferFrames). Every
  // buffer the cursor needs is made here, once.
  PlayCursor(FrameSource& source, std::int64_t maxBufferFrames, std::int64_t fadeFrames);

  // The next buffer starts at `frame`: faded in from silence, unless the
  // sound starts there.
  void start(std::int64_t frame);
  // The next buffer starts at `frame`, cross-faded from where playing was.
  void seek(std::int64_t frame);
  // Loops from frame `from` up to (not including) frame `to` whenever
  // playing reaches `to` from inside the range; `to` <= `from` turns
  // looping off. A range is widened to at least one buffer and kept
  // within the sound.
  void setLoop(std::int64_t from, std::int64_t to);
  bool looping() const { return loopTo_ > loopFrom_; }
  std::int64_t loopFrom() const { return loopFrom_; }
  std::int64_t loopTo() const { return loopTo_; }

  // Fills `out` with up to `frames` (<= maxBufferFrames) frames, channels
  // interleaved; fewer only when the sound has ended (0 once it has). A
  // frame the source does not hold yet is silence, counted in
  // missingFrames(). False when the source failed: nothing more is read.
  bool fill(float* out, std::int64_t frames, std::int64_t& filled);
  // The runs that made the last buffer.
  int runCount() const { return runCount_; }
  const Run& run(int i) const { return runs_[static_cast<std::size_t>(i)]; }

  // A fade of fadeFrames() frames from the kept continuation to silence,
  // for stopping without a click.
  void fadeOut(float* out);
  std::int64_t fadeFrames() const { return fadeFrames_; }

  // The sound frame the next buffer starts at (before any loop turns it).
  std::int64_t next() const { return next_; }
  std::int64_t frameCount() const { return end_; }
  // Frames played as silence because the source did not hold them yet.
  std::int64_t missingFrames() const { return missing_; }

 private:
  // The generations of the (at most two) blocks under a fade's span.
  struct Generations {
    std::int64_t firstBlock = -1;
    std::array<std::uint64_t, 2> value = {};
    bool operator==(const Generations&) const = default;
  };
  Generations generationsAt(std::int64_t frame) const;
  bool readRun(std::int64_t frames, float* out);
  void jump(std::int64_t frame);

  FrameSource& source_;
  int channels_;
  std::int64_t end_;
  std::int64_t maxBufferFrames_;
  std::int64_t fadeFrames_;
  std::vector<float> scratch_;  // a run and the continuation after it
  std::vector<float> kept_;     // the continuation of the last frame handed over
  std::int64_t keptFrom_ = 0;   // the sound frame it continues from
  Generations keptGenerations_;
  bool fadeNext_ = false;  // the next run starts with a cross-fade whatever
  std::int64_t next_ = 0;
  std::int64_t loopFrom_ = 0;
  std::int64_t loopTo_ = 0;
  std::int64_t missing_ = 0;
  std::array<Run, kMaxRuns> runs_ = {};
  int runCount_ = 0;
};

}  // namespace vellomar
