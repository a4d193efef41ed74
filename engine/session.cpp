// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/session.h"

#include <algorithm>
#include <new>

#include "engine/context.h"
#include "engine/positional_read.h"
#include "engine/session_state.h"
#include "engine/source.h"
#include "engine/working_file.h"

namespace vellomar {
namespace {

// Whether the engine can render `snapshot` in a session.
bool renderable(const SessionSnapshot& snapshot) {
  const RenderSettings& s = snapshot.settings;
  const std::int32_t n = s.blockLength;
  const std::int32_t sub = s.subBlocksPerBlock;
  if (!isPowerOfTwo(n) || n < 4 || sub < 1 || sub > n || n % sub != 0) return false;
  const PictureData& picture = snapshot.picture;
  if (picture.width == 0 || picture.height == 0 || !picture.pixels) return false;
  if (s.inputSource == InputSource::WaveFile) {
    // Every thread and every revision reads the wave where it needs it.
    return snapshot.frames == 0 || (streamReadableByPosition(snapshot.input.file.get()) && snapshot.input.offset >= 0);
  }
  return !drawsNoise(s) || validNoiseState(snapshot.noiseState);
}

// Makes everything but the threads. Returns 0, 3, 7 or 110.
ResultCode makeState(RenderSession::State& state, SessionSnapshot snapshot, SessionOptions options) {
  if (!renderable(snapshot)) return kResultInternal;
  state.shape = SessionShape::of(snapshot);
  state.options = std::move(options);
  state.startNoiseState = snapshot.noiseState;
  state.drawsNoise.store(drawsNoise(snapshot.settings), std::memory_order_relaxed);
  state.current = std::move(snapshot);
  fillJob(state.job, state.current);
  state.job.plans = state.options.plans;
  state.layout = BlockLayout::of(state.job);
  const auto blocks = static_cast<std::size_t>(state.layout.blocks);

  ResultCode result = state.gains.make(state.job);
  if (result != kResultOk) return result;
  state.gains.fillAll(state.job);
  if (!state.dirty.make(state.layout.blocks)) return kResultNoMemory;
  try {
    state.blockClipped.assign(blocks, 0);
    state.blockPeak.assign(blocks, 0.0);
  } catch (const std::bad_alloc&) {
    return kResultNoMemory;
  }
  const int fd = openWorkingFile(state.options.workingFolder);
  if (fd < 0) return kResultWriteFailed;
  result = state.table.make(state.layout, state.job.encoding, fd);
  if (result != kResultOk) return result;

  std::int32_t threads = state.options.threads > 0 ? state.options.threads : availableCores();
  threads = static_cast<std::int32_t>(std::min<std::int64_t>({threads, kMaxRenderThreads, state.layout.blocks}));
  // The plans before any renderer or thread: the transforms' library
  // allocates there and nowhere else.
  result = makeRenderPlans(state.plans, state.job);
  if (result != kResultOk) return result;
  RenderInputs inputs = state.gains.inputs(state.job);
  inputs.plans = &state.plans;
  result = makeRenderCrew(inputs, static_cast<std::size_t>(std::max(threads, 1)), state.crew);
  if (result != kResultOk) return result;
  if (!computeBlockRows(state.job, *state.crew.renderers[0], state.blockRows)) return kResultNoMemory;
  const std::size_t storedBytes =
      state.layout.blockValues() * static_cast<std::size_t>(bytesPerSample(state.job.encoding));
  try {
    state.stored.resize(state.crew.size());
    for (auto& bytes : state.stored) bytes.resize(storedBytes);
  } catch (const std::bad_alloc&) {
    return kResultNoMemory;
  }
  // The first render: every block, as revision 1.
  state.dirty.markAll();
  state.active = true;
  state.activeId = 1;
  state.nextId = 2;
  return kResultOk;
}

}  // namespace

RenderSession::RenderSession(std::unique_ptr<State> state) : state_(std::move(state)) {}

std::unique_ptr<RenderSession> RenderSession::start(SessionSnapshot snapshot, SessionOptions options,
                                                    ResultCode& result) {
  std::unique_ptr<State> state(new (std::nothrow) State);
  std::unique_ptr<RenderSession> session;
  if (!state) {
    result = kResultNoMemory;
    return nullptr;
  }
  try {
    result = makeState(*state, std::move(snapshot), std::move(options));
  } catch (const std::bad_alloc&) {
    result = kResultNoMemory;
  }
  if (result != kResultOk) return nullptr;
  session.reset(new (std::nothrow) RenderSession(std::move(state)));
  if (!session) {
    result = kResultNoMemory;
    return nullptr;
  }
  // With no room for the threads' stacks, half as many renderers, which
  // frees theirs.
  State* s = session->state_.get();
  while (s->workers.start(s->crew.size(), [s](std::size_t worker) { s->work(worker); }) == 0) {
    if (s->crew.size() <= 1) {
      result = kResultNoMemory;
      return nullptr;
    }
    s->crew.shrink(s->crew.size() / 2);
  }
  return session;
}

RenderSession::~RenderSession() {
  if (!state_) return;
  {
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->stopping = true;
    state_->interrupt.store(true, std::memory_order_relaxed);
  }
  state_->changed.notify_all();
  state_->workers.join();
}

ResultCode RenderSession::revise(SessionSnapshot snapshot, std::int32_t firstRow, std::int32_t lastRow,
                                 std::uint64_t* revision) {
  State& s = *state_;
  if (!(SessionShape::of(snapshot) == s.shape) || !renderable(snapshot)) return kResultInternal;
  {
    std::lock_guard<std::mutex> lock(s.mutex);
    PendingRevision& pending = s.pending;
    const std::uint64_t id = s.nextId++;
    if (pending.present) {
      // Relative to the snapshot the session renders, the merged revision
      // changed the rows of both.
      pending.rows.first = std::min(pending.rows.first, firstRow);
      pending.rows.last = std::max(pending.rows.last, lastRow);
    } else {
      pending.present = true;
      pending.firstId = id;
      pending.rows = RowSpan{firstRow, lastRow};
    }
    pending.snapshot = std::move(snapshot);
    pending.id = id;
    s.interrupt.store(true, std::memory_order_relaxed);
    if (revision) *revision = id;
  }
  s.changed.notify_all();
  return kResultOk;
}

void RenderSession::cancel() {
  State& s = *state_;
  {
    std::lock_guard<std::mutex> lock(s.mutex);
    if (!s.active) return;
    if (s.failure == kResultOk) s.failure = kResultAborted;
    s.interrupt.store(true, std::memory_order_relaxed);
  }
  s.changed.notify_all();
}

void RenderSession::setPlayPosition(std::int64_t frame) {
  state_->playBlock.store(state_->layout.blockOf(std::max<std::int64_t>(frame, 0)), std::memory_order_relaxed);
}

std::int64_t RenderSession::frames() const { return state_->layout.frames; }
int RenderSession::channels() const { return state_->layout.channels; }
SampleEncoding RenderSession::encoding() const { return state_->shape.encoding; }
std::int64_t RenderSession::blocks() const { return state_->layout.blocks; }
std::int64_t RenderSession::blockOfFrame(std::int64_t frame) const { return state_->layout.blockOf(frame); }
std::int64_t RenderSession::firstFrameOfBlock(std::int64_t block) const { return state_->layout.firstFrame(block); }
std::int64_t RenderSession::framesOfBlock(std::int64_t block) const { return state_->layout.frameCount(block); }
std::uint32_t RenderSession::generation(std::int64_t block) const { return state_->table.generation(block); }

std::int64_t RenderSession::read(std::int64_t first, std::int64_t count, float* out) const {
  return state_->table.read(first, count, out);
}

std::int64_t RenderSession::read(std::int64_t first, std::int64_t count, float* out, std::uint32_t* generations,
                                 std::size_t maxGenerations) const {
  return state_->table.read(first, count, out, generations, maxGenerations);
}

bool RenderSession::rendering() const {
  std::lock_guard<std::mutex> lock(state_->mutex);
  return state_->active || state_->pending.present || state_->applying || state_->ending;
}

RenderOutcome RenderSession::lastOutcome() const {
  std::lock_guard<std::mutex> lock(state_->mutex);
  return state_->last;
}

RenderOutcome RenderSession::waitUntilIdle() const {
  State& s = *state_;
  std::unique_lock<std::mutex> lock(s.mutex);
  s.changed.wait(lock, [&] { return !s.active && !s.pending.present && !s.applying && !s.ending; });
  return s.last;
}

std::int32_t RenderSession::noiseStateAfter() const {
  const State& s = *state_;
  if (!s.drawsNoise.load(std::memory_order_relaxed)) return s.startNoiseState;
  const auto steps =
      static_cast<std::uint64_t>(s.layout.blocks) * static_cast<std::uint64_t>(s.layout.blockLength);
  return advanceNoiseState(s.startNoiseState, steps);
}

ResultCode RenderSession::writeSound(
    const std::function<bool(const unsigned char* bytes, std::size_t size)>& write) const {
  const State& s = *state_;
  auto busy = [&s] { return s.active || s.pending.present || s.applying; };
  std::uint64_t revision = 0;
  {
    std::lock_guard<std::mutex> lock(s.mutex);
    if (busy()) return kResultAborted;
    if (s.last.result != kResultOk) return s.last.result;
    revision = s.last.revision;
  }
  std::vector<unsigned char> bytes;
  try {
    bytes.resize(s.layout.blockValues() * static_cast<std::size_t>(bytesPerSample(s.shape.encoding)));
  } catch (const std::bad_alloc&) {
    return kResultNoMemory;
  }
  for (std::int64_t b = 0; b < s.layout.blocks; ++b) {
    const auto size = static_cast<std::size_t>(s.layout.frameCount(b)) * s.table.frameBytes();
    if (s.table.copyBlock(b, bytes.data()) == 0) return kResultWriteFailed;
    if (size > 0 && !write(bytes.data(), size)) return kResultWriteFailed;
  }
  std::lock_guard<std::mutex> lock(s.mutex);
  if (busy() || s.last.revision != revision) return kResultAborted;
  return kResultOk;
}

}  // namespace vellomar
