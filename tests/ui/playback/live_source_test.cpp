// SPDX-License-Identifier: GPL-3.0-or-later
// The generated file with a render session's blocks laid over it: every
// block the session has published plays from the session, every other one
// from the file, laid out as the session lays out its blocks (the first
// one half a block long).
#include <QTest>
#include <algorithm>
#include <cmath>
#include <memory>
#include <vector>

#include "engine/session.h"
#include "support/test_support.h"
#include "ui/playback/file_frame_source.h"
#include "ui/playback/live_source.h"

using namespace vellomar;
using namespace vellomar::test;

namespace {

constexpr std::uint32_t kSide = 64;

struct Picture {
  std::vector<std::uint8_t> pixels = std::vector<std::uint8_t>(kSide * kSide);
  Picture() {
    for (std::uint32_t i = 0; i < pixels.size(); ++i) pixels[i] = static_cast<std::uint8_t>(100 + (i * 37) % 120);
  }
};

SessionSnapshot snapshotOf(float seconds, std::int32_t blockLength) {
  auto picture = std::make_shared<Picture>();
  SessionSnapshot snapshot;
  snapshot.settings.durationSeconds = seconds;
  snapshot.settings.blockLength = blockLength;
  snapshot.picture = PictureData{picture->pixels.data(), kSide, kSide, kSide};
  snapshot.pictureKeeper = picture;
  snapshot.frames = noiseSampleCount(44100, seconds);
  return snapshot;
}

// A 16-bit wave of `frames` frames all at `value`, opened for playing.
std::shared_ptr<FrameSource> constantFile(const TempDir& dir, std::int64_t frames, std::int16_t value) {
  const std::string path = dir.file("under.wav");
  writeFile(path, waveBytes(pcm16Bytes(std::vector<std::int16_t>(static_cast<std::size_t>(frames), value)), 1, 16,
                            44100));
  Refusal refusal;
  return FileFrameSource::open(path, refusal);
}

}  // namespace

class LiveSourceTest : public QObject {
  Q_OBJECT

 private slots:
  // A render stopped part-way: what it published plays from the session,
  // the rest from the file, frame for frame, whatever blocks it reached.
  void publishedBlocksPlayFromTheSessionTheRestFromTheFile() {
    TempDir dir;
    ResultCode result = kResultOk;
    std::shared_ptr<RenderSession> session = RenderSession::start(snapshotOf(3.0f, 4096), SessionOptions{}, result);
    QVERIFY(session);
    QTest::qWait(5);
    session->cancel();
    session->waitUntilIdle();
    const std::int64_t frames = session->frames();
    const std::shared_ptr<FrameSource> file = constantFile(dir, frames, 1000);
    QVERIFY(file);

    LiveSource live(file, frames, 1, 44100, 4096);
    std::vector<float> out(static_cast<std::size_t>(frames));
    // Before the session is laid over it: the file alone.
    QCOMPARE(live.read(0, frames, out.data()), frames);
    QVERIFY(std::all_of(out.begin(), out.end(), [](float v) { return v == 1000.0f / 32768.0f; }));
    QVERIFY(live.setSession(session));
    QVERIFY(!live.setSession(session));  // once only

    // Read in pieces that straddle block edges.
    std::fill(out.begin(), out.end(), 9.0f);
    for (std::int64_t first = 0; first < frames; first += 1500) {
      QCOMPARE(live.read(first, std::min<std::int64_t>(1500, frames - first), out.data() + first),
               std::min<std::int64_t>(1500, frames - first));
    }
    std::vector<float> rendered(static_cast<std::size_t>(frames));
    int fromSession = 0;
    for (std::int64_t block = 0; block < session->blocks(); ++block) {
      const std::int64_t first = session->firstFrameOfBlock(block);
      const std::int64_t n = session->framesOfBlock(block);
      QCOMPARE(live.blockOf(first), block);
      QCOMPARE(live.blockOf(first + n - 1), block);
      QCOMPARE(live.generation(block), std::uint64_t{session->generation(block)});
      if (session->generation(block) == 0) {
        for (std::int64_t f = first; f < first + n; ++f) QCOMPARE(out[f], 1000.0f / 32768.0f);
        continue;
      }
      ++fromSession;
      QCOMPARE(session->read(first, n, rendered.data() + first), n);
      for (std::int64_t f = first; f < first + n; ++f) QCOMPARE(out[f], rendered[f]);
    }
    qInfo("%d of %lld blocks published before the render stopped", fromSession,
          static_cast<long long>(session->blocks()));

    // Finished: the session everywhere.
    session->revise(snapshotOf(3.0f, 4096), 0, 0);
    session->waitUntilIdle();
    QCOMPARE(live.read(0, frames, out.data()), frames);
    QCOMPARE(session->read(0, frames, rendered.data()), frames);
    QCOMPARE(out, rendered);
  }

  // Without a file, frames not rendered yet are not there (the player
  // plays silence for them); a session of another shape is refused.
  void withoutAFileOnlyRenderedFramesAreThere() {
    ResultCode result = kResultOk;
    std::shared_ptr<RenderSession> session = RenderSession::start(snapshotOf(2.0f, 8192), SessionOptions{}, result);
    QVERIFY(session);
    session->waitUntilIdle();
    const std::int64_t frames = session->frames();
    LiveSource other(nullptr, frames, 1, 44100, 4096);
    QVERIFY(!other.setSession(session));  // another block length
    LiveSource longer(nullptr, frames + 1, 1, 44100, 8192);
    QVERIFY(!longer.setSession(session));
    LiveSource live(nullptr, frames, 1, 44100, 8192);
    std::vector<float> out(100);
    QCOMPARE(live.read(0, 100, out.data()), std::int64_t{0});
    QVERIFY(live.setSession(session));
    QCOMPARE(live.read(frames - 50, 100, out.data()), std::int64_t{50});
    QVERIFY(live.hasSession(session.get()));
  }
};

QTEST_GUILESS_MAIN(LiveSourceTest)
#include "live_source_test.moc"
