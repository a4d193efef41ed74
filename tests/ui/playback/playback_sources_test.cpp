// SPDX-License-Identifier: GPL-3.0-or-later
// Playing sources that change while they play, through a real audio
// output: to the end through a moment the output ran dry, from a chosen
// point, round a loop; a change under the playhead taken inside the block
// being played; a render that falls behind; a source that fails. Needs an
// audio output (scripts/audio-sink.sh starts a null sink); without one
// every test is skipped, saying so. Where parec is installed, what the
// output played is recorded from its monitor and measured, silences left
// out: on a busy machine the output may stutter, and that is not what is
// tested here.
#include <QAudioDevice>
#include <QElapsedTimer>
#include <QMediaDevices>
#include <QSignalSpy>
#include <QTest>
#include <atomic>
#include <cmath>
#include <memory>
#include <vector>

#include "support/block_frame_source.h"
#include "support/sound_recorder.h"
#include "ui/playback/playback.h"

using namespace vellomar;
using namespace vellomar::test;

namespace {

constexpr std::int64_t kRate = 44100;
constexpr std::int64_t kBlock = 8192;

// A sine whose frequency steps from one second to the next.
float steppedTone(std::int64_t frame, const std::vector<double>& hertzPerSecond) {
  const auto second = std::min<std::size_t>(static_cast<std::size_t>(frame / kRate), hertzPerSecond.size() - 1);
  return 0.35f * static_cast<float>(std::sin(2 * M_PI * hertzPerSecond[second] * static_cast<double>(frame) / kRate));
}

}  // namespace

class PlaybackSourcesTest : public QObject {
  Q_OBJECT

 private slots:
  void init() {
    if (QMediaDevices::defaultAudioOutput().isNull()) {
      QSKIP("No audio output here: start PulseAudio with a null sink (scripts/audio-sink.sh) to test playback");
    }
  }

  // The source holds the audio thread up for a quarter of a second: the
  // output runs dry and says so, and playing goes on to the last frame.
  void aStallThatEmptiesTheOutputDoesNotEndPlaying() {
    auto source = std::make_shared<BlockFrameSource>(kRate * 3 / 2, kBlock);
    // Its last tenth of a second two octaves up: heard, the end is there.
    source->publishAll([](std::int64_t f, int) { return steppedTone(f, {440, f >= kRate * 14 / 10 ? 1760.0 : 440}); });
    source->stallOnceAt(kRate / 2, 250);
    Playback playback;
    QSignalSpy playing(&playback, &Playback::playingChanged);
    QSignalSpy failed(&playback, &Playback::failed);
    Recorder recorder;
    const bool recording = recorder.start();
    QElapsedTimer clock;
    clock.start();
    QVERIFY(playback.play(source));
    QVERIFY(QTest::qWaitFor([&] { return !playback.isPlaying(); }, 15000));
    const qint64 took = clock.elapsed();
    QCOMPARE(source->stalls(), 1);
    QCOMPARE(playing.count(), 2);
    QCOMPARE(failed.count(), 0);
    QCOMPARE(playback.position(), qint64{1500});
    QVERIFY2(took >= 1500 + 200, qPrintable(QString::number(took)));
    if (!recording) QSKIP("parec is not installed: what was heard is not measured");
    const double sounding = recorder.soundingSeconds();
    const double played = recorder.playedSeconds();
    const double end = recorder.secondsAbove(1100);
    qInfo("1.5 s played in %lld ms: %.3f s of sound over %.3f s, the longest gap %.3f s, %.3f s of the last tone",
          took, played, sounding, recorder.longestSilence(), end);
    QVERIFY(recorder.longestSilence() > 0.15);
    QVERIFY(played > 1.4 && played < 1.56);
    QVERIFY(end > 0.07 && end < 0.12);
  }

  void playingFromAPointGoesOnToTheEnd() {
    auto source = std::make_shared<BlockFrameSource>(3 * kRate, kBlock);
    source->publishAll([](std::int64_t f, int) { return steppedTone(f, {300, 600, 1200}); });
    Playback playback;
    QSignalSpy positions(&playback, &Playback::positionChanged);
    Recorder recorder;
    const bool recording = recorder.start();
    QVERIFY(playback.play(source, 1500));
    QVERIFY(QTest::qWaitFor([&] { return !playback.isPlaying(); }, 15000));
    QCOMPARE(positions.first().at(0).toLongLong(), qint64{1500});
    for (const auto& p : positions) QVERIFY(p.at(0).toLongLong() >= 1500);
    QCOMPARE(positions.last().at(0).toLongLong(), qint64{3000});
    if (!recording) QSKIP("parec is not installed: what was heard is not measured");
    recorder.soundingSeconds();
    const double played = recorder.playedSeconds();
    const double low = recorder.secondsAbove(450) - recorder.secondsAbove(900);
    const double high = recorder.secondsAbove(900);
    qInfo("from 1.5 s of 3 s: %.3f s of sound, %.3f s at 600 Hz, %.3f s at 1200 Hz", played, low, high);
    const double before = recorder.secondsAbove(100) - recorder.secondsAbove(450);
    QVERIFY(played > 1.4 && played < 1.56);
    // Nothing of the first second; the rest of the second, then the third.
    QVERIFY(before < 0.02);
    QVERIFY(low > 0.3 && low < 0.53);
    QVERIFY(high > 0.7 && high < 1.03);
  }

  // A loop inside the middle second: only its tone is heard, the playhead
  // stays inside it, and playing goes on past the sound's length.
  void aLoopPlaysRoundAndRoundInsideItsRange() {
    auto source = std::make_shared<BlockFrameSource>(3 * kRate, kBlock);
    source->publishAll([](std::int64_t f, int) { return steppedTone(f, {300, 600, 1200}); });
    Playback playback;
    QSignalSpy loopChanged(&playback, &Playback::loopChanged);
    playback.setLoop(1200, 1700);
    QCOMPARE(loopChanged.count(), 1);
    QSignalSpy positions(&playback, &Playback::positionChanged);
    Recorder recorder;
    const bool recording = recorder.start();
    QVERIFY(playback.play(source, 1200));
    QTest::qWait(3500);
    QVERIFY(playback.isPlaying());
    playback.stop();
    QVERIFY(positions.count() > 50);
    int turns = 0;
    qint64 previous = 0;
    for (const auto& p : positions) {
      const qint64 at = p.at(0).toLongLong();
      QVERIFY2(at >= 1200 && at <= 1700, qPrintable(QString::number(at)));
      turns += at < previous;
      previous = at;
    }
    QVERIFY(turns >= 2);
    if (!recording) QSKIP("parec is not installed: what was heard is not measured");
    recorder.soundingSeconds();
    const double played = recorder.playedSeconds();
    const double off = recorder.secondsAbove(100) - (recorder.secondsAbove(450) - recorder.secondsAbove(900));
    qInfo("3.5 s of a 0.5 s loop: %.3f s of sound, %.3f s of it off the loop's tone", played, off);
    QVERIFY(played > 1.0);
    QVERIFY(off < 0.02);
  }

  // A change published while a block plays is handed to the output from
  // the next buffer on, inside that block, cross-faded; playing goes on.
  // Watched at the output's input.
  void aChangeUnderThePlayheadIsTakenInsideThePlayingBlock() {
    const std::int64_t frames = 4 * kRate;
    auto source = std::make_shared<BlockFrameSource>(frames, kBlock);
    source->publishAll([](std::int64_t, int) { return 0.25f; });
    // What was handed over, frame by frame, as the audio thread saw it.
    auto handed = std::make_shared<std::vector<float>>(static_cast<std::size_t>(frames), 0.0f);
    auto order = std::make_shared<std::atomic<bool>>(true);
    auto next = std::make_shared<std::atomic<std::int64_t>>(0);
    Playback playback;
    playback.setHandoffObserver([handed, order, next](std::int64_t first, std::int64_t n, const float* samples) {
      if (first != next->load()) order->store(false);
      std::copy(samples, samples + n, handed->begin() + first);
      next->store(first + n);
    });
    QVERIFY(playback.play(source));
    // Wait for the playhead to be early in a block, past the first.
    QVERIFY(QTest::qWaitFor([&] {
      const std::int64_t at = playback.position() * kRate / 1000;
      return at > kBlock && at % kBlock > 300 && at % kBlock < 3000;
    }, 5000));
    const std::int64_t playingBlock = playback.position() * kRate / 1000 / kBlock;
    for (std::int64_t b = 0; b < source->blockCount(); ++b) source->publish(b, [](std::int64_t, int) { return -0.25f; });
    QVERIFY(QTest::qWaitFor([&] { return !playback.isPlaying(); }, 10000));
    QCOMPARE(playback.position(), frames * 1000 / kRate);
    QVERIFY(order->load());
    QCOMPARE(next->load(), frames);

    std::int64_t changed = 0;
    while (changed < frames && (*handed)[static_cast<std::size_t>(changed)] > 0.2499f) ++changed;
    float step = 0.0f;
    for (std::int64_t i = 1; i < frames; ++i) {
      step = std::max(step, std::abs((*handed)[static_cast<std::size_t>(i)] - (*handed)[static_cast<std::size_t>(i - 1)]));
    }
    qInfo("changed while block %lld played; handed over changed from frame %lld (block %lld), largest step %.4f",
          static_cast<long long>(playingBlock), static_cast<long long>(changed), static_cast<long long>(changed / kBlock),
          step);
    QCOMPARE(changed / kBlock, playingBlock);
    QVERIFY(step < 0.01f);
    QCOMPARE((*handed)[static_cast<std::size_t>(frames - 1)], -0.25f);
  }

  void aRenderBehindThePlayheadPlaysSilenceAndCatchesUp() {
    auto source = std::make_shared<BlockFrameSource>(2 * kRate, kBlock);
    const auto sample = [](std::int64_t f, int) { return steppedTone(f, {500, 500}); };
    source->publish(0, sample);
    Playback playback;
    QSignalSpy behind(&playback, &Playback::renderBehind);
    QVERIFY(playback.play(source));
    QVERIFY(QTest::qWaitFor([&] { return behind.count() > 0; }, 3000));
    QVERIFY(playback.isPlaying());
    for (std::int64_t b = 1; b < source->blockCount(); ++b) source->publish(b, sample);
    QVERIFY(QTest::qWaitFor([&] { return !playback.isPlaying(); }, 5000));
    QCOMPARE(playback.position(), qint64{2000});
    QVERIFY(playback.missingMilliseconds() > 0);
    QCOMPARE(behind.last().at(0).toLongLong(), playback.missingMilliseconds());
  }

  void aSourceThatFailsStopsPlayingSayingWhy() {
    auto source = std::make_shared<BlockFrameSource>(3 * kRate, kBlock);
    source->publishAll([](std::int64_t f, int) { return steppedTone(f, {500}); });
    source->failFrom(kRate / 2, "The sound file went away.");
    Playback playback;
    QSignalSpy failed(&playback, &Playback::failed);
    QSignalSpy playing(&playback, &Playback::playingChanged);
    QVERIFY(playback.play(source));
    QVERIFY(QTest::qWaitFor([&] { return !playback.isPlaying(); }, 3000));
    QCOMPARE(failed.count(), 1);
    QCOMPARE(failed.first().at(0).toString(), QString("The sound file went away."));
    QCOMPARE(playing.count(), 2);
    QVERIFY(playback.position() < 1000);
  }

  void theOutputBufferIsShort() {
    auto source = std::make_shared<BlockFrameSource>(kRate, kBlock);
    source->publishAll([](std::int64_t, int) { return 0.0f; });
    Playback playback;
    QVERIFY(playback.play(source));
    qInfo("the audio output's own buffer: %lld ms", playback.sinkBufferMilliseconds());
    QVERIFY(playback.sinkBufferMilliseconds() > 0 && playback.sinkBufferMilliseconds() <= 50);
    playback.stop();
  }
};

QTEST_MAIN(PlaybackSourcesTest)
#include "playback_sources_test.moc"
