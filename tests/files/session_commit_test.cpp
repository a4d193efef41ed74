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

  // The file the window's render path writes for `planes` in `format`.
  std::vector<std::uint8_t> renderedFile(const test::Planes& planes, const OutputFormat& format = {}) {
    RenderSettings settings = maker.settings;
    settings.outputPath = dir.file(std::string("work/rendered.") + outputExtension(format.kind));
    SoundFileOptions options;
    options.output = format;
    PreparedRender prepared;
    Refusal refusal;
    const SessionSnapshot snapshot = maker.snapshot(planes);
    EXPECT_TRUE(prepareRender(settings, snapshot.picture, maker.noiseState, options, prepared, refusal));
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
  ASSERT_EQ(commitSession(*session, out, OutputFormat{}, refusal), kResultOk);
  const std::vector<std::uint8_t> first = test::readFile(out);
  EXPECT_EQ(first, renderedFile(planes));

  std::mt19937 random(2);
  planes.scribble(10, 12, random);
  ASSERT_EQ(session->revise(maker.snapshot(planes), 10, 12), kResultOk);
  ASSERT_EQ(session->waitUntilIdle().result, kResultOk);
  EXPECT_EQ(test::readFile(out), first);
  ASSERT_EQ(commitSession(*session, out, OutputFormat{}, refusal), kResultOk);
  EXPECT_EQ(test::readFile(out), renderedFile(planes));
  EXPECT_EQ(filesIn(dir.file("out")), 1u);
}

// Every output format: the file a render of the same snapshot to that
// format writes, byte for byte; a session stored in another encoding than
// the format's is refused.
TEST_F(SessionCommitTest, EveryFormatIsWhatARenderToItWrites) {
  const test::Planes planes(16, 16, 4);
  const OutputFormat formats[] = {{OutputKind::Wav24, 44100}, {OutputKind::WavFloat, 44100},
                                  {OutputKind::Flac16, 44100}, {OutputKind::Wav16, 48000}};
  for (const OutputFormat& format : formats) {
    SCOPED_TRACE(std::string(outputKindName(format.kind)) + " " + std::to_string(format.rate));
    maker.encoding = encodingFor(format);
    auto session = start(planes);
    ASSERT_NE(session, nullptr);
    session->waitUntilIdle();
    const std::string out = dir.file(std::string("out/sound.") + outputExtension(format.kind));
    Refusal refusal;
    ASSERT_EQ(commitSession(*session, out, format, refusal), kResultOk) << refusal.text;
    EXPECT_EQ(test::readFile(out), renderedFile(planes, format));
    std::filesystem::remove(out);
  }
  maker.encoding = SampleEncoding::Int16;
  auto session = start(planes);
  ASSERT_NE(session, nullptr);
  session->waitUntilIdle();
  Refusal refusal;
  EXPECT_EQ(commitSession(*session, dir.file("out/deep.wav"), OutputFormat{OutputKind::Wav24, 44100}, refusal),
            kResultInternal);
  EXPECT_TRUE(refusal);
  EXPECT_EQ(filesIn(dir.file("out")), 0u);
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
  EXPECT_EQ(commitSession(*session, out, OutputFormat{}, refusal), kResultAborted);
  tried = true;
  EXPECT_FALSE(refusal);
  session->waitUntilIdle();
  EXPECT_EQ(test::readFile(out), (std::vector<std::uint8_t>{1, 2, 3}));
  EXPECT_EQ(filesIn(dir.file("out")), 1u);

  EXPECT_EQ(commitSession(*session, dir.file("missing/sound.wav"), OutputFormat{}, refusal), kResultWriteFailed);
  EXPECT_TRUE(refusal);
}

}  // namespace
}  // namespace vellomar
