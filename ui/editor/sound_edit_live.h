// SPDX-License-Identifier: GPL-3.0-or-later
// Hearing the edits of a recording's picture as they are made: the edited
// recording is kept as a table of blocks (in an unnamed working file) that
// the player reads; every revision of the picture renders again only the
// samples the change can reach (the frames whose cells it changed), on a
// thread of its own, and publishes the blocks they lie in. What is
// published equals, sample for sample, a render of the whole picture as
// it was at that revision.
#pragma once

#include <QObject>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "engine/spectral_edit.h"
#include "files/edit_sound.h"
#include "ui/playback/frame_source.h"

namespace vellomar {

class BlockTable;
class PictureDocument;

// The player's view of the table: reads never wait and never allocate.
class SoundEditSource : public FrameSource {
 public:
  SoundEditSource(std::shared_ptr<const BlockTable> table, std::uint32_t rate) : table_(std::move(table)), rate_(rate) {}
  int channels() const override;
  std::uint32_t sampleRate() const override { return rate_; }
  std::int64_t frameCount() const override;
  std::int64_t blockOf(std::int64_t frame) const override;
  std::int64_t read(std::int64_t first, std::int64_t count, float* out) override;
  std::uint64_t generation(std::int64_t block) const override;

 private:
  std::shared_ptr<const BlockTable> table_;
  std::uint32_t rate_;
};

class SoundEditLive : public QObject {
  Q_OBJECT

 public:
  // Follows `document`'s revisions against `sound`; the table is filled
  // with the picture as it is now at once (on the render thread).
  // `sound.moves` are the moves in effect at first; setMoves changes them.
  SoundEditLive(PictureDocument& document, SoundForEditing sound, QObject* parent = nullptr);
  ~SoundEditLive() override;

  // Whether the table could be made (a working file, memory).
  bool usable() const { return table_ != nullptr; }
  // The moves in effect from now on: renders again what they reach.
  void setMoves(std::vector<SpectralMove> moves);
  // What the player plays.
  std::shared_ptr<FrameSource> source() const;
  // Whether the table holds a revision completely, and which.
  bool hasRendered() const { return rendered_.load() > 0; }
  std::uint64_t renderedRevision() const { return rendered_.load() - 1; }
  // Frames rendered again for the last revision (for measuring).
  std::int64_t lastRenderedFrames() const { return lastFrames_.load(); }

 signals:
  // A revision's blocks are all published (queued to this object's thread).
  void revisionRendered(std::uint64_t revision);

 private:
  struct Request {
    std::shared_ptr<const PictureBitmap> picture;
    std::vector<SpectralMove> moves;
    std::uint64_t revision = 0;
  };
  void revised(std::uint64_t revision);
  void run();
  // Renders `picture` over the samples it changes against `previous` (all
  // of them without one) and publishes their blocks.
  ResultCode renderChange(const PictureBitmap* previous, const Request& request);
  // The samples the moves added or taken away since the last render reach.
  void addMovedRanges(const std::vector<SpectralMove>& moves, std::vector<SampleRange>& ranges) const;
  ResultCode publishRange(const SpectralEditJob& base, std::int64_t firstBlock, std::int64_t endBlock);
  // The table of the sound's blocks in a new working file, with the
  // render thread's buffers; null when it cannot be made.
  std::shared_ptr<BlockTable> makeTable();

  PictureDocument& document_;
  SoundForEditing sound_;
  std::shared_ptr<BlockTable> table_;
  std::vector<SpectralMove> moves_;                // the user interface thread's
  std::shared_ptr<const PictureBitmap> previous_;  // the render thread's
  std::vector<SpectralMove> previousMoves_;        // the render thread's
  std::vector<double> values_;                     // the render thread's
  std::vector<unsigned char> bytes_;
  std::thread thread_;
  std::mutex mutex_;
  std::condition_variable wake_;
  Request pending_;
  bool hasPending_ = false;
  bool stopping_ = false;
  std::atomic<bool> abort_{false};
  std::atomic<std::uint64_t> rendered_{0};  // revision + 1; 0 before the first
  std::atomic<std::int64_t> lastFrames_{0};
};

}  // namespace vellomar
