// SPDX-License-Identifier: GPL-3.0-or-later
// A session's sound as the user's file: the same file, byte for byte, as a
// render of the same snapshot through the window's path (prepareRender,
// renderSound, finishRender); later revisions reach the file only through
// another commit; a commit refused or failed leaves an earlier file as it
// was and nothing beside it.

#include "files/session_commit.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <random>
#include <thread>

#include "engine/render.h"
#include "files/render_setup.h"
#include "files/wav.h"
#include "support/session_snapshots.h"
#include "support/test_support.h"

namespace vellomar {
namespace {

std::size_t filesIn(const std::string& folder) {
  std::size_t count = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(folder)) ++count;
  return count;
}

class SessionCommitTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::create_directory(dir.file("work"));
    std::filesystem::create_directory(dir.file("out"));
    maker.settings.durationSeconds = 4.0f;
    maker.frames = noiseSampleCount(44100, maker.settings.durationSeconds);
    maker.settings.stereo = true;
    maker.useSource(test::Source::Pink, dir.file("work"));
  }

  std::unique_ptr<RenderSession> start(const test::Planes& planes, SessionOptions options = {}) {
    options.workingFolder = dir.file("work");
    ResultCode result = -1;
    auto session = RenderSession::start(maker.snapshot(planes), options, result);
    EXPECT_EQ(result, kResultOk);
    return session;
  }

  // The file the window's render path writes for `planes`.
  std::vector<std::uint8_t> renderedFile(const test::Planes& planes) {
    RenderSettings settings = maker.settings;
    settings.outputPath = dir.file("work/rendered.wav");
    PreparedRender prepared;
    Refusal refusal;
    const SessionSnapshot snapshot = maker.snapshot(planes);
    EXPECT_TRUE(prepareRender(settings, snapshot.picture, maker.noiseState, prepared, refusal));
    ResultCode result = renderSound(prepared.job);
    EXPECT_EQ(finishRender(prepared, result, refusal), kResultOk);
    return test::readFile(settings.outputPath);
  }

  test::TempDir dir;
  test::SnapshotMaker maker;
};

TEST_F(SessionCommitTest, TheCommittedFileIsTheRenderedOneAndChangesOnlyWithTheNextCommit) {
  test::Planes planes(40, 30, 3);
  auto session = start(planes);
  ASSERT_NE(session, nullptr);
  ASSERT_EQ(session->waitUntilIdle().result, kResultOk);
  const std::string out = dir.file("out/sound.wav");
  Refusal refusal;
  ASSERT_EQ(commitSession(*session, out, 44100, refusal), kResultOk);
  const std::vector<std::uint8_t> first = test::readFile(out);
  EXPECT_EQ(first, renderedFile(planes));

  std::mt19937 random(2);
  planes.scribble(10, 12, random);
  ASSERT_EQ(session->revise(maker.snapshot(planes), 10, 12), kResultOk);
  ASSERT_EQ(session->waitUntilIdle().result, kResultOk);
  EXPECT_EQ(test::readFile(out), first);
  ASSERT_EQ(commitSession(*session, out, 44100, refusal), kResultOk);
  EXPECT_EQ(test::readFile(out), renderedFile(planes));
  EXPECT_EQ(filesIn(dir.file("out")), 1u);
}

TEST_F(SessionCommitTest, OtherEncodingsGetTheirHeader) {
  const test::Planes planes(16, 16, 4);
  for (SampleEncoding encoding : {SampleEncoding::Int24, SampleEncoding::Float32}) {
    SCOPED_TRACE(static_cast<int>(encoding));
    maker.encoding = encoding;
    auto session = start(planes);
    ASSERT_NE(session, nullptr);
    session->waitUntilIdle();
    const std::string out = dir.file("out/deep.wav");
    Refusal refusal;
    ASSERT_EQ(commitSession(*session, out, 44100, refusal), kResultOk);
    const std::vector<std::uint8_t> bytes = test::readFile(out);
    const std::vector<std::uint8_t> samples = test::fullRender(maker.snapshot(planes), dir.file("work"));
    ASSERT_EQ(bytes.size(), 44 + samples.size());
    EXPECT_TRUE(std::equal(samples.begin(), samples.end(), bytes.begin() + 44));
    const int width = bytesPerSample(encoding);
    EXPECT_EQ(test::le16(bytes, 20), encoding == SampleEncoding::Float32 ? 3 : 1);  // format
    EXPECT_EQ(test::le16(bytes, 22), 2);                                            // channels
    EXPECT_EQ(test::le16(bytes, 32), 2 * width);                                    // block align
    EXPECT_EQ(test::le16(bytes, 34), 8 * width);                                    // bits
    EXPECT_EQ(test::le32(bytes, 40), samples.size());
    EXPECT_EQ(test::le32(bytes, 4), samples.size() + 36);
  }
}

// While a revision runs the commit is refused and the earlier file stays;
// a folder that cannot take the file gives the writer's refusal.
TEST_F(SessionCommitTest, RefusedAndFailedCommitsLeaveTheEarlierFile) {
  const std::string out = dir.file("out/sound.wav");
  test::writeFile(out, {1, 2, 3});
  test::Planes planes(40, 30, 5);
  // The render holds on after its first block until the commit was tried.
  std::atomic<bool> tried{false};
  SessionOptions options;
  options.blockPublished = [&tried](std::int64_t, std::uint32_t) {
    while (!tried.load()) std::this_thread::yield();
  };
  auto session = start(planes, options);
  ASSERT_NE(session, nullptr);
  Refusal refusal;
  EXPECT_EQ(commitSession(*session, out, 44100, refusal), kResultAborted);
  tried = true;
  EXPECT_FALSE(refusal);
  session->waitUntilIdle();
  EXPECT_EQ(test::readFile(out), (std::vector<std::uint8_t>{1, 2, 3}));
  EXPECT_EQ(filesIn(dir.file("out")), 1u);

  EXPECT_EQ(commitSession(*session, dir.file("missing/sound.wav"), 44100, refusal), kResultWriteFailed);
  EXPECT_TRUE(refusal);
}

}  // namespace
}  // namespace vellomar
