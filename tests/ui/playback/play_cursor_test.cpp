// SPDX-License-Identifier: GPL-3.0-or-later
// The play cursor without an audio output: what it hands over buffer by
// buffer from a source that changes under it, when it cross-fades and
// when it does not, loops and jumps, silence for what is not rendered.
#include <QTest>
#include <cmath>
#include <vector>

#include "support/block_frame_source.h"
#include "ui/playback/play_cursor.h"

using namespace vellomar;
using vellomar::test::BlockFrameSource;

namespace {

constexpr std::int64_t kBlock = 1000;
constexpr std::int64_t kBuffer = 256;
constexpr std::int64_t kFade = 100;

// Every frame tells where it is: its own index, scaled.
float rampAt(std::int64_t frame, int = 0) { return static_cast<float>(frame) * 1e-5f; }
float negativeRampAt(std::int64_t frame, int = 0) { return -rampAt(frame); }

// Buffers from `cursor` until `frames` frames came, or the sound ended.
std::vector<float> play(PlayCursor& cursor, std::int64_t frames, int channels = 1) {
  std::vector<float> all;
  std::vector<float> buffer(static_cast<std::size_t>(kBuffer * channels));
  while (static_cast<std::int64_t>(all.size()) < frames * channels) {
    std::int64_t filled = 0;
    if (!cursor.fill(buffer.data(), kBuffer, filled) || filled == 0) break;
    all.insert(all.end(), buffer.begin(), buffer.begin() + filled * channels);
  }
  return all;
}

}  // namespace

class PlayCursorTest : public QObject {
  Q_OBJECT

 private slots:
  void fromTheStartEveryFrameComesAsItIsToTheLastOne() {
    BlockFrameSource source(10 * kBlock + 123, kBlock);
    source.publishAll(rampAt);
    PlayCursor cursor(source, kBuffer, kFade);
    cursor.start(0);
    const std::vector<float> heard = play(cursor, 1 << 30);
    QCOMPARE(static_cast<std::int64_t>(heard.size()), source.frameCount());
    for (std::size_t i = 0; i < heard.size(); ++i) QCOMPARE(heard[i], rampAt(static_cast<std::int64_t>(i)));
    std::int64_t filled = -1;
    std::vector<float> buffer(kBuffer);
    QVERIFY(cursor.fill(buffer.data(), kBuffer, filled));
    QCOMPARE(filled, std::int64_t{0});
    QCOMPARE(cursor.missingFrames(), std::int64_t{0});
  }

  void stereoFramesKeepTheirChannelsApart() {
    BlockFrameSource source(3 * kBlock, kBlock, 2);
    source.publishAll([](std::int64_t f, int c) { return c == 0 ? rampAt(f) : -0.5f; });
    PlayCursor cursor(source, kBuffer, kFade);
    cursor.start(0);
    const std::vector<float> heard = play(cursor, 1 << 30, 2);
    QCOMPARE(static_cast<std::int64_t>(heard.size()), 2 * source.frameCount());
    for (std::int64_t f = 0; f < source.frameCount(); ++f) {
      QCOMPARE(heard[static_cast<std::size_t>(2 * f)], rampAt(f));
      QCOMPARE(heard[static_cast<std::size_t>(2 * f + 1)], -0.5f);
    }
  }

  void fromAnyOtherFrameTheSoundFadesIn() {
    BlockFrameSource source(10 * kBlock, kBlock);
    source.publishAll([](std::int64_t, int) { return 0.5f; });
    PlayCursor cursor(source, kBuffer, kFade);
    cursor.start(4321);
    std::vector<float> buffer(kBuffer);
    std::int64_t filled = 0;
    QVERIFY(cursor.fill(buffer.data(), kBuffer, filled));
    QCOMPARE(cursor.run(0).soundFrame, std::int64_t{4321});
    QVERIFY(buffer[0] > 0.0f && buffer[0] < 0.01f);
    for (std::int64_t i = 1; i < kFade; ++i) QVERIFY(buffer[i] > buffer[i - 1]);
    for (std::int64_t i = kFade; i < kBuffer; ++i) QCOMPARE(buffer[i], 0.5f);
  }

  // A block changed under the playhead is heard from the very next
  // buffer, mid-block, faded over from the samples it replaces; a block
  // further ahead that changes starts as it is, nothing of it heard yet.
  void aChangeIsTakenAtTheNextBufferCrossFaded() {
    BlockFrameSource source(10 * kBlock, kBlock);
    source.publishAll(rampAt);
    PlayCursor cursor(source, kBuffer, kFade);
    cursor.start(0);
    play(cursor, 5 * kBuffer);  // up to frame 1280, inside block 1
    const std::int64_t at = cursor.next();
    QCOMPARE(at, 5 * kBuffer);
    for (std::int64_t b = 0; b < source.blockCount(); ++b) source.publish(b, negativeRampAt);

    std::vector<float> buffer(kBuffer);
    std::int64_t filled = 0;
    QVERIFY(cursor.fill(buffer.data(), kBuffer, filled));
    QCOMPARE(cursor.run(0).soundFrame, at);
    for (std::int64_t i = 0; i < kFade; ++i) {
      const float w = static_cast<float>(i + 1) / (kFade + 1);
      QVERIFY(std::abs(buffer[i] - ((1 - w) * rampAt(at + i) + w * negativeRampAt(at + i))) < 1e-6f);
    }
    for (std::int64_t i = kFade; i < kBuffer; ++i) QCOMPARE(buffer[i], negativeRampAt(at + i));
    // No step anywhere bigger than the fade's: no click.
    float step = std::abs(buffer[0] - rampAt(at - 1));
    for (std::int64_t i = 1; i < kBuffer; ++i) step = std::max(step, std::abs(buffer[i] - buffer[i - 1]));
    QVERIFY(step < 2 * rampAt(at + kBuffer) / kFade);

    // Block 3 changes while block 1 plays: it is not faded into when reached.
    source.publish(3, rampAt);
    const std::vector<float> on = play(cursor, 3 * kBlock - cursor.next());
    const std::int64_t from = at + kBuffer;
    for (std::int64_t f = from; f < 4 * kBlock && f - from < static_cast<std::int64_t>(on.size()); ++f) {
      QCOMPARE(on[static_cast<std::size_t>(f - from)], f >= 3 * kBlock ? rampAt(f) : negativeRampAt(f));
    }
  }

  // A block published again with the same samples needs no fade, but
  // gets one; the fade between equal samples changes nothing.
  void anUnchangedRepublishedBlockSoundsTheSame() {
    BlockFrameSource source(4 * kBlock, kBlock);
    source.publishAll(rampAt);
    PlayCursor cursor(source, kBuffer, kFade);
    cursor.start(0);
    play(cursor, kBuffer);
    source.publish(0, rampAt);
    const std::vector<float> on = play(cursor, kBuffer);
    for (std::int64_t i = 0; i < kBuffer; ++i) QVERIFY(std::abs(on[i] - rampAt(kBuffer + i)) < 1e-7f);
  }

  void aJumpCrossFadesFromWherePlayingWas() {
    BlockFrameSource source(10 * kBlock, kBlock);
    source.publishAll(rampAt);
    PlayCursor cursor(source, kBuffer, kFade);
    cursor.start(0);
    play(cursor, 2 * kBuffer);
    cursor.seek(7000);
    std::vector<float> buffer(kBuffer);
    std::int64_t filled = 0;
    QVERIFY(cursor.fill(buffer.data(), kBuffer, filled));
    QCOMPARE(cursor.runCount(), 1);
    QCOMPARE(cursor.run(0).soundFrame, std::int64_t{7000});
    // It starts near where playing was and ends on the new place.
    QVERIFY(std::abs(buffer[0] - rampAt(2 * kBuffer)) < 0.01f * rampAt(7000));
    for (std::int64_t i = kFade; i < kBuffer; ++i) QCOMPARE(buffer[i], rampAt(7000 + i));
    QCOMPARE(cursor.next(), 7000 + kBuffer);
  }

  // Round and round the range, never past its end, faded at the turn;
  // entered from before it; left alone when playing is past it.
  void aLoopComesRoundAtItsEnd() {
    BlockFrameSource source(10 * kBlock, kBlock);
    source.publishAll(rampAt);
    PlayCursor cursor(source, kBuffer, kFade);
    cursor.setLoop(3000, 3700);
    QVERIFY(cursor.looping());
    cursor.start(2500);
    std::vector<float> buffer(kBuffer);
    std::vector<std::int64_t> frames;  // the sound frame of every frame handed
    int turns = 0;
    while (frames.size() < 5000) {
      std::int64_t filled = 0;
      QVERIFY(cursor.fill(buffer.data(), kBuffer, filled));
      QCOMPARE(filled, kBuffer);
      for (int r = 0; r < cursor.runCount(); ++r) {
        const PlayCursor::Run& run = cursor.run(r);
        if (run.soundFrame == 3000) {
          ++turns;
          // The turn: from what follows the range's end to its start.
          QVERIFY(std::abs(buffer[run.offset] - rampAt(3700)) < 0.02f * rampAt(3700));
          if (run.frames > kFade) QCOMPARE(buffer[run.offset + kFade], rampAt(3000 + kFade));
        }
        for (std::int64_t i = 0; i < run.frames; ++i) frames.push_back(run.soundFrame + i);
      }
    }
    QCOMPARE(frames.front(), std::int64_t{2500});
    for (std::size_t i = 1; i < frames.size(); ++i) {
      QVERIFY(frames[i] < 3700);
      QVERIFY(frames[i] == frames[i - 1] + 1 || (frames[i - 1] == 3699 && frames[i] == 3000));
    }
    // Up to 3699 first, then a turn every 700 frames.
    const auto handed = static_cast<int>(frames.size());
    QCOMPARE(turns, (handed - 1200 - 1) / 700 + 1);

    // Past the range: on to the end.
    cursor.seek(5000);
    const std::vector<float> rest = play(cursor, 1 << 30);
    QCOMPARE(static_cast<std::int64_t>(rest.size()), 5000);
  }

  void aLoopIsAtLeastABufferAndInsideTheSound() {
    BlockFrameSource source(10 * kBlock, kBlock);
    source.publishAll(rampAt);
    PlayCursor cursor(source, kBuffer, kFade);
    cursor.setLoop(9990, 9995);
    QCOMPARE(cursor.loopTo(), std::int64_t{10000});
    QCOMPARE(cursor.loopFrom(), 10000 - kBuffer);
    cursor.setLoop(-50, 20000);
    QCOMPARE(cursor.loopFrom(), std::int64_t{0});
    QCOMPARE(cursor.loopTo(), std::int64_t{10000});
    cursor.setLoop(500, 500);
    QVERIFY(!cursor.looping());
  }

  // What is not rendered yet plays as silence and is counted; once it is
  // there it fades in. Nothing ends before the sound does.
  void framesNotRenderedYetPlayAsSilenceUntilTheyCome() {
    BlockFrameSource source(6 * kBlock, kBlock);
    source.publish(0, [](std::int64_t, int) { return 0.5f; });
    PlayCursor cursor(source, kBuffer, kFade);
    cursor.start(0);
    const std::vector<float> first = play(cursor, 2 * kBlock);
    QCOMPARE(static_cast<std::int64_t>(first.size()), 2 * kBlock + (kBuffer - (2 * kBlock) % kBuffer) % kBuffer);
    // Block 0 as it is, faded out into the silence of block 1.
    QCOMPARE(first[kBlock - kFade - 1], 0.5f);
    QVERIFY(first[kBlock - 1] < 0.01f);
    for (std::size_t i = kBlock; i < first.size(); ++i) QCOMPARE(first[i], 0.0f);
    QCOMPARE(cursor.missingFrames(), static_cast<std::int64_t>(first.size()) - kBlock);

    for (std::int64_t b = 1; b < 6; ++b) source.publish(b, [](std::int64_t, int) { return 0.5f; });
    const std::vector<float> then = play(cursor, 1 << 30);
    QVERIFY(then[0] < 0.01f);
    QCOMPARE(then[kFade], 0.5f);
    QCOMPARE(static_cast<std::int64_t>(first.size() + then.size()), 6 * kBlock);
  }

  void aSourceThatFailsEndsFilling() {
    BlockFrameSource source(6 * kBlock, kBlock);
    source.publishAll(rampAt);
    source.failFrom(3 * kBlock, "gone");
    PlayCursor cursor(source, kBuffer, kFade);
    cursor.start(0);
    std::vector<float> buffer(kBuffer);
    std::int64_t filled = 0;
    int buffers = 0;
    while (cursor.fill(buffer.data(), kBuffer, filled)) QVERIFY(++buffers < 100);
    QCOMPARE(source.failure(), std::string("gone"));
    QVERIFY(buffers >= (3 * kBlock - kBuffer - kFade) / kBuffer);
  }

  void stoppingFadesFromWherePlayingIs() {
    BlockFrameSource source(6 * kBlock, kBlock);
    source.publishAll([](std::int64_t, int) { return 0.5f; });
    PlayCursor cursor(source, kBuffer, kFade);
    cursor.start(0);
    play(cursor, kBuffer);
    std::vector<float> fade(kFade);
    cursor.fadeOut(fade.data());
    QVERIFY(fade[0] > 0.49f);
    for (std::int64_t i = 1; i < kFade; ++i) QVERIFY(fade[i] < fade[i - 1]);
    QVERIFY(fade[kFade - 1] < 0.01f);
  }
};

QTEST_GUILESS_MAIN(PlayCursorTest)
#include "play_cursor_test.moc"
