// SPDX-License-Identifier: GPL-3.0-or-later
// The render session: its first render and every revision after random
// edits of the picture hold, byte for byte, what a full render of the same
// snapshot from the same noise state writes, for every source, mono and
// stereo, one thread and two; a revision renders only the blocks near the
// rows it changed; a newer revision supersedes an unfinished one and a
// cancelled one's blocks are rendered by the next.

#include "engine/session.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <mutex>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "engine/source.h"
#include "support/session_snapshots.h"
#include "support/test_support.h"

namespace vellomar {
namespace {

using test::Planes;
using test::SnapshotMaker;
using test::Source;

std::unique_ptr<RenderSession> startSession(const SessionSnapshot& snapshot, SessionOptions options,
                                            const test::TempDir& dir) {
  options.workingFolder = dir.path();
  ResultCode result = -1;
  std::unique_ptr<RenderSession> session = RenderSession::start(snapshot, std::move(options), result);
  EXPECT_EQ(result, kResultOk);
  return session;
}

class SessionRevisions : public ::testing::TestWithParam<std::tuple<Source, bool, int>> {};

TEST_P(SessionRevisions, EqualAFullRenderOfTheSameSnapshotAfterRandomEdits) {
  const auto [source, stereo, threads] = GetParam();
  test::TempDir dir;
  SnapshotMaker maker;
  maker.frames = 60001;
  maker.settings.blockLength = 2048;
  maker.settings.subBlocksPerBlock = stereo ? 4 : 8;
  maker.settings.frequencyScale = stereo ? FrequencyScale::Logarithmic : FrequencyScale::Mel;
  maker.settings.stereo = stereo;
  maker.useSource(source, dir.path());
  const auto seed = static_cast<std::uint32_t>(static_cast<int>(source) * 10 + (stereo ? 2 : 0) + threads);
  Planes planes(24, 40, seed);

  SessionOptions options;
  options.threads = threads;
  auto session = startSession(maker.snapshot(planes), options, dir);
  ASSERT_NE(session, nullptr);
  RenderOutcome outcome = session->waitUntilIdle();
  EXPECT_EQ(outcome.revision, 1u);
  EXPECT_EQ(outcome.result, kResultOk);
  EXPECT_EQ(outcome.blocksRendered, session->blocks());
  ASSERT_EQ(test::sessionBytes(*session), test::fullRender(maker.snapshot(planes), dir.path()));

  std::mt19937 random(seed);
  const std::int64_t framesPerRow = maker.frames / (planes.height - 1);
  for (int edit = 0; edit < 5; ++edit) {
    const std::uint32_t first = random() % planes.height;
    const std::uint32_t last = std::min(planes.height - 1, first + static_cast<std::uint32_t>(random() % 3));
    SCOPED_TRACE("rows " + std::to_string(first) + " ... " + std::to_string(last));
    planes.scribble(first, last, random);
    ASSERT_EQ(session->revise(maker.snapshot(planes), static_cast<std::int32_t>(first),
                              static_cast<std::int32_t>(last)),
              kResultOk);
    outcome = session->waitUntilIdle();
    EXPECT_EQ(outcome.result, kResultOk);
    EXPECT_FALSE(outcome.superseded);
    // Only blocks near the changed rows: their span of time, the filters'
    // reach of a row either side and a block either side.
    const std::int64_t nearby = (last - first + 3) * framesPerRow / maker.settings.blockLength + 3;
    EXPECT_GT(outcome.blocksRendered, 0);
    EXPECT_LE(outcome.blocksRendered, nearby);
    ASSERT_EQ(test::sessionBytes(*session), test::fullRender(maker.snapshot(planes), dir.path()));
  }

  // The brightness mapping changes every row's gain, whatever rows are
  // named.
  maker.settings.logBrightness = true;
  ASSERT_EQ(session->revise(maker.snapshot(planes), 0, 0), kResultOk);
  outcome = session->waitUntilIdle();
  EXPECT_EQ(outcome.blocksRendered, session->blocks());
  EXPECT_EQ(test::sessionBytes(*session), test::fullRender(maker.snapshot(planes), dir.path()));

  // Revisions do not move the noise on: the next render continues from
  // where one full render leaves it.
  const bool noise = source == Source::Pink || source == Source::White;
  const auto steps = static_cast<std::uint64_t>(session->blocks()) * 2048u;
  EXPECT_EQ(session->noiseStateAfter(), noise ? advanceNoiseState(maker.noiseState, steps) : maker.noiseState);
}

INSTANTIATE_TEST_SUITE_P(EverySource, SessionRevisions,
                         ::testing::Combine(::testing::Values(Source::Pink, Source::White, Source::Wave16,
                                                              Source::Wave8, Source::Sine),
                                            ::testing::Bool(), ::testing::Values(1, 2)));

// Changes of the master gain, the scale and the picture's size touch every
// row; the result is still the full render of the new snapshot.
TEST(RenderSession, SettingsAndSizeChangesRenderEveryBlock) {
  test::TempDir dir;
  SnapshotMaker maker;
  maker.frames = 30000;
  maker.settings.blockLength = 4096;
  maker.useSource(Source::Pink, dir.path());
  Planes planes(16, 12, 5);
  auto session = startSession(maker.snapshot(planes), SessionOptions{}, dir);
  ASSERT_NE(session, nullptr);
  session->waitUntilIdle();

  auto expectEveryBlock = [&](const Planes& now) {
    ASSERT_EQ(session->revise(maker.snapshot(now), 3, 3), kResultOk);
    const RenderOutcome outcome = session->waitUntilIdle();
    EXPECT_EQ(outcome.result, kResultOk);
    EXPECT_EQ(outcome.blocksRendered, session->blocks());
    EXPECT_EQ(test::sessionBytes(*session), test::fullRender(maker.snapshot(now), dir.path()));
  };
  maker.settings.masterGainDb = 12;
  expectEveryBlock(planes);
  maker.settings.frequencyScale = FrequencyScale::Linear;
  maker.settings.bandLowHz = 200.0f;
  maker.settings.bandHighHz = 8000.0f;
  expectEveryBlock(planes);
  maker.settings.inputSource = InputSource::WhiteNoise;
  expectEveryBlock(planes);
  expectEveryBlock(Planes(31, 7, 6));
}

// What a session cannot revise needs a new session: another length, grid,
// channel count, source kind or encoding.
TEST(RenderSession, RevisionsOfAnotherShapeAreRefused) {
  test::TempDir dir;
  SnapshotMaker maker;
  maker.frames = 10000;
  maker.settings.blockLength = 2048;
  maker.useSource(Source::White, dir.path());
  const Planes planes(8, 8, 1);
  auto session = startSession(maker.snapshot(planes), SessionOptions{}, dir);
  ASSERT_NE(session, nullptr);
  auto refused = [&](auto change) {
    SnapshotMaker other = maker;
    change(other);
    return session->revise(other.snapshot(planes), 0, 7) == kResultInternal;
  };
  EXPECT_TRUE(refused([](SnapshotMaker& m) { m.frames = 10001; }));
  EXPECT_TRUE(refused([](SnapshotMaker& m) { m.settings.blockLength = 4096; }));
  EXPECT_TRUE(refused([](SnapshotMaker& m) { m.settings.subBlocksPerBlock = 8; }));
  EXPECT_TRUE(refused([](SnapshotMaker& m) { m.settings.stereo = true; }));
  EXPECT_TRUE(refused([](SnapshotMaker& m) { m.encoding = SampleEncoding::Float32; }));
  EXPECT_TRUE(refused([&](SnapshotMaker& m) { m.useSource(Source::Wave16, dir.path()); }));
  EXPECT_FALSE(refused([](SnapshotMaker& m) { m.noiseState = 42; }));
  EXPECT_EQ(session->waitUntilIdle().result, kResultOk);
}

// Two revisions given while the first render runs: it ends superseded, and
// the last one renders what is left of every earlier one.
TEST(RenderSession, ANewerRevisionSupersedesAnUnfinishedOne) {
  test::TempDir dir;
  SnapshotMaker maker;
  maker.frames = 44100 * 10;
  maker.settings.blockLength = 2048;
  maker.useSource(Source::Pink, dir.path());
  Planes planes(32, 64, 9);
  const Planes original = planes;
  std::mt19937 random(3);
  planes.scribble(0, 1, random);
  const Planes edited = planes;
  planes.scribble(60, 63, random);

  std::mutex mutex;
  std::vector<RenderOutcome> outcomes;
  std::atomic<RenderSession*> live{nullptr};
  std::atomic<int> publishedSeen{0};
  SessionOptions options;
  options.threads = 1;
  options.renderEnded = [&](const RenderOutcome& outcome) {
    std::lock_guard<std::mutex> lock(mutex);
    outcomes.push_back(outcome);
  };
  // From the worker, while the first render is far from done.
  options.blockPublished = [&](std::int64_t, std::uint32_t) {
    RenderSession* session = live.load();
    if (!session || ++publishedSeen != 5) return;
    EXPECT_EQ(session->revise(maker.snapshot(edited), 0, 1), kResultOk);
    EXPECT_EQ(session->revise(maker.snapshot(planes), 60, 63), kResultOk);
  };
  auto session = startSession(maker.snapshot(original), options, dir);
  ASSERT_NE(session, nullptr);
  live = session.get();
  const RenderOutcome last = session->waitUntilIdle();
  EXPECT_EQ(last.revision, 3u);
  EXPECT_EQ(last.result, kResultOk);
  EXPECT_FALSE(last.superseded);
  {
    std::lock_guard<std::mutex> lock(mutex);
    ASSERT_EQ(outcomes.size(), 3u);
    for (int i = 0; i < 2; ++i) {
      EXPECT_EQ(outcomes[static_cast<std::size_t>(i)].revision, static_cast<std::uint64_t>(i + 1));
      EXPECT_EQ(outcomes[static_cast<std::size_t>(i)].result, kResultAborted);
      EXPECT_TRUE(outcomes[static_cast<std::size_t>(i)].superseded);
    }
    EXPECT_LT(outcomes[0].blocksRendered, session->blocks());
  }
  EXPECT_EQ(test::sessionBytes(*session), test::fullRender(maker.snapshot(planes), dir.path()));
}

// A cancelled render ends with 111; the next revision renders the blocks it
// left, even one that changes no row.
TEST(RenderSession, ACancelledRendersBlocksAreRenderedByTheNextRevision) {
  test::TempDir dir;
  SnapshotMaker maker;
  maker.frames = 44100 * 5;
  maker.settings.blockLength = 2048;
  maker.settings.stereo = true;
  maker.useSource(Source::Wave16, dir.path());
  const Planes planes(20, 30, 4);
  SessionOptions options;
  options.threads = 2;
  auto session = startSession(maker.snapshot(planes), options, dir);
  ASSERT_NE(session, nullptr);
  session->cancel();
  const RenderOutcome cancelled = session->waitUntilIdle();
  EXPECT_EQ(cancelled.result, kResultAborted);
  EXPECT_FALSE(cancelled.superseded);
  // A cancelled render has nothing to commit.
  EXPECT_EQ(session->writeSound([](const unsigned char*, std::size_t) { return true; }), kResultAborted);

  ASSERT_EQ(session->revise(maker.snapshot(planes), 0, -1), kResultOk);
  const RenderOutcome resumed = session->waitUntilIdle();
  EXPECT_EQ(resumed.result, kResultOk);
  EXPECT_EQ(cancelled.blocksRendered + resumed.blocksRendered, session->blocks());
  EXPECT_EQ(test::sessionBytes(*session), test::fullRender(maker.snapshot(planes), dir.path()));
}

// A session that cannot start says why and leaves nothing behind.
TEST(RenderSession, StartFailures) {
  test::TempDir dir;
  SnapshotMaker maker;
  maker.frames = 10000;
  const Planes planes(8, 8, 1);
  SessionSnapshot snapshot = maker.snapshot(planes);
  ResultCode result = -1;
  snapshot.picture.height = 0;
  EXPECT_EQ(RenderSession::start(snapshot, SessionOptions{}, result), nullptr);
  EXPECT_EQ(result, kResultInternal);

  snapshot = maker.snapshot(planes);
  snapshot.settings.subBlocksPerBlock = 3;
  EXPECT_EQ(RenderSession::start(snapshot, SessionOptions{}, result), nullptr);
  EXPECT_EQ(result, kResultInternal);

  SessionOptions nowhere;
  nowhere.workingFolder = dir.file("missing");
  EXPECT_EQ(RenderSession::start(maker.snapshot(planes), nowhere, result), nullptr);
  EXPECT_EQ(result, kResultWriteFailed);

  // A wave that cannot be read by position (a pipe).
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  snapshot = maker.snapshot(planes);
  snapshot.settings.inputSource = InputSource::WaveFile;
  snapshot.input.file.reset(::fdopen(fds[0], "rb"), [](std::FILE* f) { std::fclose(f); });
  EXPECT_EQ(RenderSession::start(snapshot, SessionOptions{}, result), nullptr);
  EXPECT_EQ(result, kResultInternal);
  ::close(fds[1]);

  // The working file has no name: nothing is left in its folder.
  auto session = startSession(maker.snapshot(planes), SessionOptions{}, dir);
  ASSERT_NE(session, nullptr);
  session->waitUntilIdle();
  session.reset();
  std::size_t entries = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(dir.path())) ++entries;
  EXPECT_EQ(entries, 0u);
}

}  // namespace
}  // namespace vellomar
