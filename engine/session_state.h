// SPDX-License-Identifier: GPL-3.0-or-later
// Inside a render session: its table, what its renders read, and how its
// worker threads share the work.
//
// Locking: `mutex` guards the fields marked "under the lock". The render
// inputs (current, job, gains, crew, rows) change only while `applying`
// with no worker rendering, and are read by workers only while they
// render; the mutex hands them over. A worker renders without the lock.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <vector>

#include "engine/block_table.h"
#include "engine/channel_gains.h"
#include "engine/render_crew.h"
#include "engine/row_span.h"
#include "engine/session.h"
#include "engine/worker_threads.h"

namespace vellomar {

// A revision given but not yet begun: newer ones given meanwhile merge
// into it.
struct PendingRevision {
  bool present = false;
  SessionSnapshot snapshot;
  RowSpan rows;
  std::uint64_t id = 0;
  std::uint64_t firstId = 0;  // ids firstId ... id - 1 merged into it
};

// Blocks still to render in the running revision: a bit per block.
class DirtyBlocks {
 public:
  // Makes room for `blocks` (all clean). False when memory is short.
  bool make(std::int64_t blocks);
  void mark(std::int64_t b);
  void markRange(std::int64_t first, std::int64_t end);
  void markAll();
  bool test(std::int64_t b) const;
  std::int64_t count() const { return count_; }
  // Takes a run of at most `most` dirty blocks from the first dirty block at
  // or after `from` (wrapping round), clearing them: [first, end). False
  // when none is dirty.
  bool take(std::int64_t from, std::int64_t most, std::int64_t& first, std::int64_t& end);

 private:
  void clear(std::int64_t b);
  std::int64_t next(std::int64_t from) const;  // first dirty block >= from, or blocks_
  std::vector<std::uint64_t> bits_;
  std::int64_t blocks_ = 0;
  std::int64_t count_ = 0;
};

// What a revision may not change (see sameShape).
struct SessionShape {
  std::uint32_t frames = 0;
  std::int32_t blockLength = 0;
  std::int32_t subBlocks = 0;
  bool stereo = false;
  bool wave = false;
  const std::FILE* input = nullptr;
  std::int64_t inputOffset = 0;
  bool eightBit = false;
  bool floatSamples = false;
  std::int32_t inputChannels = 1;
  SampleEncoding encoding = SampleEncoding::Int16;

  static SessionShape of(const SessionSnapshot& snapshot);
  bool operator==(const SessionShape&) const = default;
};

struct RenderSession::State {
  // Fixed for the session's life.
  SessionShape shape;
  BlockLayout layout;
  SessionOptions options;
  std::int32_t startNoiseState = kInitialRandomSeed;
  BlockTable table;
  WorkerThreads workers;

  // Render inputs: changed only while applying, with no worker rendering.
  SessionSnapshot current;
  RenderJob job;
  ChannelGains gains;
  FftPlans plans;  // every renderer's, for the session's life (its block length is fixed)
  RenderCrew crew;
  std::vector<RowSpan> blockRows;             // rows each block reads
  std::vector<std::vector<unsigned char>> stored;  // per worker: one block's stored samples
  // Per block: the level of its published samples, written by the worker
  // that publishes it.
  std::vector<std::uint32_t> blockClipped;
  std::vector<double> blockPeak;

  // Under the lock.
  mutable std::mutex mutex;
  mutable std::condition_variable changed;
  DirtyBlocks dirty;
  PendingRevision pending;
  std::uint64_t nextId = 1;
  bool active = false;    // a revision runs
  bool applying = false;  // a worker installs a pending revision
  bool ending = false;    // a worker reports a revision's end
  bool stopping = false;  // the session goes away
  std::uint64_t activeId = 0;
  ResultCode failure = kResultOk;  // the running revision's first failure (111: cancelled)
  std::int64_t published = 0;      // blocks the running revision published
  int busy = 0;                    // workers rendering
  std::int64_t cursor = 0;         // where the next run is looked for
  std::int64_t cursorPlayBlock = 0;
  RenderOutcome last;
  // An earlier install failed half-way: the next one makes everything anew.
  bool mustPrepare = false;

  // Polled between hops: stops the blocks being rendered.
  std::atomic<bool> interrupt{false};
  // Whether the snapshot last installed draws on the noise generator.
  std::atomic<bool> drawsNoise{false};
  // The block the player plays (set from any thread without the lock).
  std::atomic<std::int64_t> playBlock{0};

  // Worker i's loop (session_worker.cpp).
  void work(std::size_t worker);

 private:
  void applyPending(std::unique_lock<std::mutex>& lock);
  ResultCode install(PendingRevision& request);
  ResultCode prepareRenderers(bool newSource);
  void markTouched(const RowSpan& rows);
  void endRevision(std::unique_lock<std::mutex>& lock);
  bool claim(std::size_t worker, std::int64_t& first, std::int64_t& end);
  void renderRun(std::size_t worker, std::int64_t first, std::int64_t end);
  void report(const RenderOutcome& outcome);
};

// Fills `job` for rendering `snapshot`.
void fillJob(RenderJob& job, const SessionSnapshot& snapshot);

// The rows each block of `job` reads by `renderer`, into `rows` (one per
// block). False when memory is short.
bool computeBlockRows(const RenderJob& job, const BlockRenderer& renderer, std::vector<RowSpan>& rows);

}  // namespace vellomar
