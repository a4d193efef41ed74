// SPDX-License-Identifier: GPL-3.0-or-later
// Reading a render session while it renders: a reader on its own thread
// sees every block whole, either as one snapshot renders it or as the
// other does, never part of each, while revisions rewrite every block
// again and again; generations only grow, and reads return the rendered
// frames up to the first block not yet rendered.

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>
#include <vector>

#include "engine/encoding.h"
#include "engine/session.h"
#include "support/session_snapshots.h"
#include "support/test_support.h"

namespace vellomar {
namespace {

using test::Planes;
using test::SnapshotMaker;

std::vector<float> asFloats(const std::vector<std::uint8_t>& bytes, SampleEncoding encoding) {
  const std::size_t count = bytes.size() / static_cast<std::size_t>(bytesPerSample(encoding));
  std::vector<float> out(count);
  decodeSamples(bytes.data(), count, encoding, out.data());
  return out;
}

struct ReadCase {
  SampleEncoding encoding;
  bool stereo;
};

class SessionReading : public ::testing::TestWithParam<ReadCase> {};

TEST_P(SessionReading, ReadsDuringRewritesSeeWholeBlocks) {
  test::TempDir dir;
  SnapshotMaker maker;
  // Long blocks: each spans many pages of the working file, so that a read
  // that met a write would show it.
  maker.frames = 150000;
  maker.settings.blockLength = 16384;
  maker.settings.stereo = GetParam().stereo;
  maker.encoding = GetParam().encoding;
  maker.useSource(test::Source::Pink, dir.path());
  const Planes a(16, 20, 1);
  const Planes b(16, 20, 2);
  const std::vector<float> soundA = asFloats(test::fullRender(maker.snapshot(a), dir.path()), maker.encoding);
  const std::vector<float> soundB = asFloats(test::fullRender(maker.snapshot(b), dir.path()), maker.encoding);

  SessionOptions options;
  options.threads = 2;
  options.workingFolder = dir.path();
  ResultCode result = -1;
  auto session = RenderSession::start(maker.snapshot(a), options, result);
  ASSERT_NE(session, nullptr);
  const int channels = session->channels();
  const std::int64_t blocks = session->blocks();

  std::atomic<bool> stop{false};
  std::atomic<long> torn{0}, whole{0}, backwards{0};
  std::thread reader([&] {
    std::vector<float> out(static_cast<std::size_t>(16384 * channels));
    std::vector<std::uint32_t> seen(static_cast<std::size_t>(blocks), 0);
    while (!stop.load()) {
      for (std::int64_t block = 0; block < blocks; ++block) {
        const std::int64_t first = session->firstFrameOfBlock(block);
        const std::int64_t frames = session->framesOfBlock(block);
        std::uint32_t generation = 0;
        if (session->read(first, frames, out.data(), &generation, 1) != frames) continue;
        const std::size_t at = static_cast<std::size_t>(first * channels);
        const std::size_t size = static_cast<std::size_t>(frames * channels) * sizeof(float);
        if (std::memcmp(out.data(), soundA.data() + at, size) == 0 ||
            std::memcmp(out.data(), soundB.data() + at, size) == 0) {
          ++whole;
        } else {
          ++torn;
        }
        if (generation < seen[static_cast<std::size_t>(block)]) ++backwards;
        seen[static_cast<std::size_t>(block)] = generation;
      }
    }
  });
  for (int i = 0; i < 8; ++i) {
    ASSERT_EQ(session->revise(maker.snapshot(i % 2 == 0 ? b : a), 0, 19), kResultOk);
    if (i % 4 == 3) session->waitUntilIdle();
    std::this_thread::yield();
  }
  const RenderOutcome last = session->waitUntilIdle();
  stop = true;
  reader.join();
  EXPECT_EQ(last.result, kResultOk);
  EXPECT_EQ(torn.load(), 0);
  EXPECT_EQ(backwards.load(), 0);
  EXPECT_GT(whole.load(), blocks);

  // The last snapshot was `a`: every frame reads as its render, and every
  // block was published more than once.
  std::vector<float> all(soundA.size());
  EXPECT_EQ(session->read(0, session->frames(), all.data()), session->frames());
  EXPECT_EQ(all, soundA);
  for (std::int64_t block = 0; block < blocks; ++block) EXPECT_GT(session->generation(block), 1u);
}

INSTANTIATE_TEST_SUITE_P(Encodings, SessionReading,
                         ::testing::Values(ReadCase{SampleEncoding::Int16, false}, ReadCase{SampleEncoding::Int24, true},
                                           ReadCase{SampleEncoding::Float32, true}));

// Before the first render ends, a read returns the frames rendered in a row
// from where it starts, and nothing past the end of the sound.
TEST(SessionReading, ReadsStopAtTheFirstBlockNotRendered) {
  test::TempDir dir;
  SnapshotMaker maker;
  maker.frames = 44100 * 4;
  maker.settings.blockLength = 2048;
  maker.useSource(test::Source::White, dir.path());
  const Planes planes(8, 8, 3);
  std::atomic<RenderSession*> live{nullptr};
  std::atomic<bool> checked{false};
  std::atomic<long> failures{0};
  SessionOptions options;
  options.threads = 1;
  options.workingFolder = dir.path();
  // On the worker, right after block 3 is published (one thread renders
  // in order from the start): blocks 0 ... 3 are there, block 4 is not.
  options.blockPublished = [&](std::int64_t block, std::uint32_t generation) {
    // The worker holds on until the test has the session (start() returns
    // while the first blocks render).
    RenderSession* session = nullptr;
    while (!(session = live.load())) std::this_thread::yield();
    if (block != 3 || checked.exchange(true)) return;
    std::vector<float> out(static_cast<std::size_t>(session->frames()));
    const std::int64_t end = session->firstFrameOfBlock(4);
    if (generation != 1 || session->generation(4) != 0) ++failures;
    if (session->read(0, session->frames(), out.data()) != end) ++failures;
    if (session->read(100, 5, out.data()) != 5) ++failures;
    if (session->read(end, 10, out.data()) != 0) ++failures;
  };
  ResultCode result = -1;
  auto session = RenderSession::start(maker.snapshot(planes), options, result);
  ASSERT_NE(session, nullptr);
  live = session.get();
  session->waitUntilIdle();
  EXPECT_TRUE(checked.load());
  EXPECT_EQ(failures.load(), 0);
  std::vector<float> out(16);
  EXPECT_EQ(session->read(session->frames() - 3, 16, out.data()), 3);
  EXPECT_EQ(session->read(session->frames(), 16, out.data()), 0);
  EXPECT_EQ(session->read(-1, 16, out.data()), 0);
}

}  // namespace
}  // namespace vellomar
