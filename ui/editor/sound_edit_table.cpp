// SPDX-License-Identifier: GPL-3.0-or-later
// The block table side of the live edit: making it, rendering a change
// into it, and the player's reads.
#include <algorithm>
#include <new>

#include "engine/block_table.h"
#include "engine/encoding.h"
#include "files/spool.h"
#include "ui/editor/sound_edit_live.h"

namespace vellomar {

namespace {

// Frames of a block of the table: a small edit publishes a few of them.
constexpr std::int32_t kLiveBlockFrames = 16384;

}  // namespace

int SoundEditSource::channels() const { return table_->layout().channels; }
std::int64_t SoundEditSource::frameCount() const { return table_->layout().frames; }
std::int64_t SoundEditSource::blockOf(std::int64_t frame) const { return table_->layout().blockOf(frame); }
std::int64_t SoundEditSource::read(std::int64_t first, std::int64_t count, float* out) {
  return table_->read(first, count, out);
}
std::uint64_t SoundEditSource::generation(std::int64_t block) const { return table_->generation(block); }

std::shared_ptr<BlockTable> SoundEditLive::makeTable() {
  BlockLayout layout;
  layout.frames = static_cast<std::int64_t>(sound_.record.sampleCount);
  layout.blockLength = kLiveBlockFrames;
  layout.blocks = static_cast<std::int64_t>(blockCount(sound_.record.sampleCount, kLiveBlockFrames));
  layout.channels = sound_.record.channels;
  const int fd = makeUnnamedFile();
  if (fd < 0) return nullptr;
  try {
    auto table = std::make_shared<BlockTable>();
    if (table->make(layout, SampleEncoding::Float32, fd) != kResultOk) return nullptr;
    values_.resize(layout.blockValues());
    bytes_.resize(layout.blockValues() * 4);
    return table;
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

void SoundEditLive::addMovedRanges(const std::vector<SpectralMove>& moves, std::vector<SampleRange>& ranges) const {
  const auto same = [](const SpectralMove& a, const SpectralMove& b) {
    return a.channel == b.channel && a.frameFirst == b.frameFirst && a.frameEnd == b.frameEnd &&
           a.binFirst == b.binFirst && a.binEnd == b.binEnd && a.frameOffset == b.frameOffset &&
           a.binOffset == b.binOffset;
  };
  const std::int64_t n = sound_.record.blockLength, hop = n / 4;
  const auto total = static_cast<std::int64_t>(sound_.record.sampleCount);
  const auto add = [&](const std::vector<SpectralMove>& from, const std::vector<SpectralMove>& other) {
    for (const SpectralMove& m : from) {
      if (std::any_of(other.begin(), other.end(), [&](const SpectralMove& o) { return same(m, o); })) continue;
      // Frame j reaches samples j * hop - 3N/4 ... j * hop + N/4 - 1.
      const std::int64_t first = std::clamp<std::int64_t>(m.frameFirst * hop - 3 * n / 4, 0, total);
      const std::int64_t end = std::clamp<std::int64_t>((m.frameEnd - 1) * hop + n / 4, 0, total);
      if (first < end) ranges.push_back({static_cast<std::uint64_t>(first), static_cast<std::uint64_t>(end)});
    }
  };
  add(moves, previousMoves_);
  add(previousMoves_, moves);
}

namespace {

struct BlockSpan {
  std::int64_t first = 0;
  std::int64_t end = 0;
};

// The blocks that hold `ranges`, merged and in order.
std::vector<BlockSpan> blocksOf(const BlockLayout& layout, std::vector<SampleRange> ranges) {
  std::sort(ranges.begin(), ranges.end(), [](const SampleRange& a, const SampleRange& b) { return a.first < b.first; });
  std::vector<BlockSpan> spans;
  for (const SampleRange& r : ranges) {
    if (r.end <= r.first) continue;
    const BlockSpan span{layout.blockOf(static_cast<std::int64_t>(r.first)),
                         layout.blockOf(static_cast<std::int64_t>(r.end) - 1) + 1};
    if (!spans.empty() && span.first <= spans.back().end) {
      spans.back().end = std::max(spans.back().end, span.end);
    } else {
      spans.push_back(span);
    }
  }
  return spans;
}

bool overlaps(const SampleRange& r, const std::vector<SampleRange>& ranges) {
  return std::any_of(ranges.begin(), ranges.end(), [&](const SampleRange& o) { return o.first < r.end && r.first < o.end; });
}

}  // namespace

ResultCode SoundEditLive::renderChange(const PictureBitmap* previous, const Request& request) {
  const PictureBitmap& picture = *request.picture;
  SoundForEditing moved = sound_;
  moved.moves = request.moves;
  SpectralEditJob job = soundEditJob(moved, picture);
  job.abort = &abort_;
  const BlockLayout& layout = table_->layout();
  std::vector<SampleRange> changed;
  if (previous) {
    // The frames whose cells differ between the two revisions.
    SoundForEditing before = sound_;
    before.original = std::shared_ptr<const PictureBitmap>(std::shared_ptr<const PictureBitmap>(), previous);
    if (const ResultCode r = editedSampleRanges(soundEditJob(before, picture), changed); r != kResultOk) return r;
    addMovedRanges(request.moves, changed);
  } else {
    changed.push_back({0, static_cast<std::uint64_t>(layout.frames)});
  }
  std::int64_t frames = 0;
  std::vector<BlockSpan> done = blocksOf(layout, changed);
  std::vector<SampleRange> reach;
  job.synthesisReach = &reach;
  for (const BlockSpan& span : done) {
    if (const ResultCode r = publishRange(job, span.first, span.end); r != kResultOk) return r;
    job.synthesisReach = nullptr;
    frames += layout.firstFrame(span.end - 1) + layout.frameCount(span.end - 1) - layout.firstFrame(span.first);
  }
  // A synthesised run the change meets is solved again as a whole: the
  // rest of its reach may have changed too.
  std::vector<BlockSpan> extra;
  for (const SampleRange& run : reach) {
    if (!overlaps(run, changed)) continue;
    for (const BlockSpan& span : blocksOf(layout, {run})) {
      for (std::int64_t b = span.first; b < span.end; ++b) {
        if (std::any_of(done.begin(), done.end(), [b](const BlockSpan& d) { return d.first <= b && b < d.end; })) continue;
        if (!extra.empty() && extra.back().end == b) {
          ++extra.back().end;
        } else {
          extra.push_back({b, b + 1});
        }
      }
    }
  }
  for (const BlockSpan& span : extra) {
    if (const ResultCode r = publishRange(job, span.first, span.end); r != kResultOk) return r;
    frames += layout.firstFrame(span.end - 1) + layout.frameCount(span.end - 1) - layout.firstFrame(span.first);
  }
  lastFrames_.store(frames);
  return kResultOk;
}

ResultCode SoundEditLive::publishRange(const SpectralEditJob& base, std::int64_t firstBlock, std::int64_t endBlock) {
  const BlockLayout& layout = table_->layout();
  const auto channels = static_cast<std::size_t>(layout.channels);
  SpectralEditJob job = base;
  job.outputFirst = static_cast<std::uint64_t>(layout.firstFrame(firstBlock));
  job.outputEnd = static_cast<std::uint64_t>(layout.firstFrame(endBlock - 1) + layout.frameCount(endBlock - 1));
  // The output comes in order: fill each block, store and publish it when full.
  std::int64_t block = firstBlock;
  std::int64_t filled = 0;
  ResultCode failure = kResultOk;
  job.write = [&](std::uint64_t, std::size_t count, const double* y) {
    std::size_t taken = 0;
    while (taken < count) {
      const std::int64_t size = layout.frameCount(block);
      const auto n = static_cast<std::size_t>(std::min<std::int64_t>(size - filled, static_cast<std::int64_t>(count - taken)));
      std::copy(y + taken * channels, y + (taken + n) * channels, values_.begin() + static_cast<std::ptrdiff_t>(filled * channels));
      taken += n;
      filled += static_cast<std::int64_t>(n);
      if (filled == size) {
        RenderLevels levels;
        encodeSamples(values_.data(), static_cast<std::size_t>(size) * channels, SampleEncoding::Float32, bytes_.data(), levels);
        if ((failure = table_->store(block, bytes_.data())) != kResultOk) return failure;
        table_->publish(block);
        ++block;
        filled = 0;
      }
    }
    return kResultOk;
  };
  return renderSpectralEdit(job);
}

}  // namespace vellomar
