// SPDX-License-Identifier: GPL-3.0-or-later
// A render session: one render's output held as a table of blocks in a
// working file on disk, rendered in the background, revised block by block
// when the picture changes, read by a player while it renders, and written
// out whole when the user's file is to be replaced.
//
// Contract
// - Snapshot. A session renders a SessionSnapshot: the settings, the
//   picture (PictureData views and `pictureKeeper`, which keeps the planes
//   alive while any render reads them), the frame count, the wave input
//   (read by position) for the wave source, the noise state the render
//   starts from and the encoding of the stored samples. The session keeps
//   the snapshot it renders; the caller may change or free its own copies
//   at once.
// - Start. RenderSession::start makes the working file, the block table,
//   the gain matrices, one block renderer per worker thread and the
//   threads, then starts the full render (revision 1, every row touched)
//   and returns without waiting for it.
// - Revisions. revise(snapshot, firstRow, lastRow) says that the picture
//   changed in rows firstRow ... lastRow (row 0 the top one) since the last
//   snapshot the session was given. The session renders again exactly the
//   blocks whose hops read those rows. A change of anything but the
//   picture's bytes (brightness mapping, gain, scale, band, picture size,
//   pink or white noise) touches every row, whatever rows are named. Every
//   revision starts from the noise state the session started from: after
//   any sequence of revisions the table holds, byte for byte, what a full
//   render of the last snapshot from that state would write, for every
//   source, mono and stereo, any thread count. Revisions do not move the
//   noise sequence on: noiseStateAfter() is what the next render continues
//   from.
// - Supersession. A revision given while another runs stops that one
//   within a hop; the new one renders every block the old one had not
//   finished as well as its own (a block that was interrupted included).
//   The old one ends with result 111 and `superseded` set.
// - What a snapshot may change: everything but the frame count, the block
//   length and sub-blocks, mono or stereo, noise or wave (and which wave)
//   and the encoding; revise() refuses such a change with 110, and a new
//   session is needed then. A revision's snapshot's noise state is not
//   read: every revision starts from the session's.
// - Threads. The caller never waits for a render: start() and revise()
//   take a lock that rendering threads hold only for a few instructions.
//   Worker threads are started with small stacks (see
//   engine/worker_threads.h), as many as options.threads asks (0: every
//   core) and memory allows; every buffer a block needs is made before
//   they start, and nothing is allocated per block or per hop after that,
//   revisions included.
// - Blocks on disk. The working file is an unnamed file (it disappears
//   when the session ends, however the program ends) in options'
//   workingFolder, or the user's cache folder, or the temporary folder.
//   Memory stays flat in the sound's duration: a few bytes per block.
// - Reading. frames(), channels(), blockOfFrame() and the block accessors
//   describe the table; read() and generation() may be called from any
//   thread at any time, never wait for a lock held by rendering, and see
//   every block either as it was or as it is after its rewrite, never part
//   of each. A block's generation is 0 until it is first published and
//   changes whenever it is published again.
// - Notifications (options). blockPublished(block, generation) after a
//   block is published, and renderEnded(outcome) once per revision, both on
//   a worker thread (blockPublished on several at once): they must return
//   at once, may call revise(), cancel() and the readers, and must not
//   destroy the session. A revision's renderEnded comes after all its
//   blockPublished calls and before any of the next revision's.
// - Levels. An outcome holds the clipped samples and the peak of the whole
//   sound as the table then holds it (see engine/encoding.h).
// - Commit. writeSound() streams the finished sound's stored samples, in
//   order, to a sink: the files layer puts a header before them and the
//   file in place (files/session_commit.h). It refuses while a revision
//   runs or waits, or when one started while it streamed. Revisions after a
//   commit change only the session's table: the user's file changes only
//   with another commit.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>

#include "engine/encoding.h"
#include "engine/result_code.h"
#include "engine/settings.h"

namespace vellomar {

// The wave input of a session: samples read by position from `file`,
// which the session keeps open while it reads it.
struct SessionInput {
  std::shared_ptr<std::FILE> file;
  std::int64_t offset = 0;  // byte offset of the first sample
  bool eightBit = false;    // 8-bit samples, otherwise 16-bit
  bool floatSamples = false;  // 32-bit float samples, 1.0 at full scale
  std::int32_t channels = 1;  // interleaved; a stereo input renders stereo
};

struct SessionSnapshot {
  RenderSettings settings;
  PictureData picture;
  std::shared_ptr<const void> pictureKeeper;
  std::uint32_t frames = 0;  // output frames (one sample of every channel)
  SessionInput input;        // the wave source only
  std::int32_t noiseState = kInitialRandomSeed;
  SampleEncoding encoding = SampleEncoding::Int16;
};

// How one revision ended.
struct RenderOutcome {
  std::uint64_t revision = 0;  // 1 = the session's first render
  ResultCode result = kResultOk;  // 0, 3, 4, 7, 9, 110; 111 when cancelled or superseded
  bool superseded = false;
  RenderLevels levels;              // of the whole sound, when result is 0
  std::int64_t blocksRendered = 0;  // blocks this revision published
};

struct SessionOptions {
  std::int32_t threads = 0;   // 0: every core this process may use
  // How the transforms are planned (fft/fft.h); one set of plans serves the
  // session's whole life.
  FftPlanSource plans;
  std::string workingFolder;  // empty: the cache folder, else the temporary one
  std::function<void(std::int64_t block, std::uint32_t generation)> blockPublished;
  std::function<void(const RenderOutcome& outcome)> renderEnded;
};

class RenderSession {
 public:
  // Makes a session for `snapshot` and starts its full render. nullptr,
  // with `result` 3 (memory or threads), 7 (no working file) or 110 (a
  // snapshot the engine cannot render: no picture, a grid whose hops do not
  // tile a block, an input that cannot be read by position), when it
  // cannot start; nothing is left behind then.
  static std::unique_ptr<RenderSession> start(SessionSnapshot snapshot, SessionOptions options, ResultCode& result);

  // Stops the render (within a hop) and waits for the threads.
  ~RenderSession();
  RenderSession(const RenderSession&) = delete;
  RenderSession& operator=(const RenderSession&) = delete;

  // Revises the render for `snapshot`, whose picture changed in rows
  // firstRow ... lastRow. Returns 0 (the revision's number in `revision`)
  // or 110 for a snapshot of another shape.
  ResultCode revise(SessionSnapshot snapshot, std::int32_t firstRow, std::int32_t lastRow,
                    std::uint64_t* revision = nullptr);

  // Stops the running revision within a hop; it ends with 111. Its
  // unfinished blocks are rendered by the next revision.
  void cancel();

  // Where the player plays: blocks are rendered from there on first.
  void setPlayPosition(std::int64_t frame);

  std::int64_t frames() const;
  int channels() const;
  SampleEncoding encoding() const;
  std::int64_t blocks() const;
  std::int64_t blockOfFrame(std::int64_t frame) const;
  std::int64_t firstFrameOfBlock(std::int64_t block) const;
  std::int64_t framesOfBlock(std::int64_t block) const;
  std::uint32_t generation(std::int64_t block) const;

  // Frames first ... first + count - 1, interleaved, as floats of full
  // scale +-1, into `out`; returns how many from `first` on are rendered
  // and read (up to the first block not yet rendered). `generations[i]`
  // (i < maxGenerations) receives the generation read of the i-th block
  // the read met.
  std::int64_t read(std::int64_t first, std::int64_t count, float* out) const;
  std::int64_t read(std::int64_t first, std::int64_t count, float* out, std::uint32_t* generations,
                    std::size_t maxGenerations) const;

  // Whether a revision runs or waits.
  bool rendering() const;
  // The last revision's outcome (revision 0 before the first ends).
  RenderOutcome lastOutcome() const;
  // Waits until no revision runs or waits and returns the last outcome.
  // For the command line and tests; never on a window's or audio thread.
  RenderOutcome waitUntilIdle() const;

  // The noise state the next render continues from: the start state moved
  // on by the whole render's noise (unchanged for the wave source).
  std::int32_t noiseStateAfter() const;

  // Streams the finished sound to `write` (stored samples, in order,
  // chunks of at most a block) and returns 0; 111 when a revision runs,
  // waits or started meanwhile; the last revision's failure when it
  // failed; 7 when the working file cannot be read or `write` returns
  // false.
  ResultCode writeSound(const std::function<bool(const unsigned char* bytes, std::size_t size)>& write) const;

  struct State;

 private:
  explicit RenderSession(std::unique_ptr<State> state);
  std::unique_ptr<State> state_;
};

}  // namespace vellomar
