// SPDX-License-Identifier: GPL-3.0-or-later
// Playing generated sounds through a real audio output: the whole file to
// its last sample, a file replaced under the same name heard anew, and
// "Play generated" as a toggle. Needs an audio output (a PulseAudio null
// sink will do: scripts/audio-sink.sh starts one); without one every test
// is skipped, saying so. Where parec is installed, what the output played
// is recorded from its monitor and measured.
#include <QAudioDevice>
#include <QElapsedTimer>
#include <QMediaDevices>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QLineEdit>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTest>
#include <cmath>
#include <filesystem>
#include <memory>

#include "support/sound_recorder.h"
#include "support/test_support.h"
#include "support/window_support.h"
#include "ui/main_window/main_window.h"
#include "ui/playback/playback.h"
#include "ui/axes/preview_frame.h"
#include "ui/main_window/window_commands.h"

using namespace vellomar;
using namespace vellomar::test;


class PlaybackTest : public QObject {
  Q_OBJECT

  std::unique_ptr<TempDir> dir_;

  std::string writeTone(const char* name, double seconds, double hz, double endSeconds = 0.0) {
    const std::string path = dir_->file(name);
    const std::string temporary = path + ".part";
    writeFile(temporary, waveBytes(pcm16Bytes(tone(seconds, hz, endSeconds)), 1, 16, 44100));
    std::filesystem::rename(temporary, path);  // as a render puts its output in place
    return path;
  }

  // Plays `path` to its end; the wall-clock milliseconds it took.
  qint64 playToTheEnd(Playback& playback, const std::string& path) {
    QSignalSpy playing(&playback, &Playback::playingChanged);
    QElapsedTimer clock;
    clock.start();
    playback.play(QString::fromStdString(path));
    if (!playback.isPlaying()) return -1;
    if (!QTest::qWaitFor([&] { return !playback.isPlaying(); }, 15000)) return -1;
    const qint64 took = clock.elapsed();
    if (playing.count() != 2) return -1;
    return took;
  }

 private slots:
  void init() {
    if (QMediaDevices::defaultAudioOutput().isNull()) {
      QSKIP("No audio output here: start PulseAudio with a null sink (scripts/audio-sink.sh) to test playback");
    }
    dir_ = std::make_unique<TempDir>();
  }
  void cleanup() { dir_.reset(); }

  void theWholeFileIsPlayedToItsLastSample() {
    // Its last 0.1 s two octaves up: heard to the end, they are all there.
    const std::string path = writeTone("one.wav", 1.5, 440, 0.1);
    Playback playback;
    QSignalSpy positions(&playback, &Playback::positionChanged);
    Recorder recorder;
    const bool recording = recorder.start();
    const qint64 took = playToTheEnd(playback, path);
    QVERIFY(took >= 1450);
    QCOMPARE(playback.duration(), qint64{1500});
    QCOMPARE(positions.last().at(0).toLongLong(), qint64{1500});
    // The position moved on steadily in between.
    QVERIFY(positions.count() > 20);
    qint64 previous = -1;
    for (const auto& p : positions) {
      QVERIFY(p.at(0).toLongLong() >= previous);
      previous = p.at(0).toLongLong();
    }
    if (!recording) QSKIP("parec is not installed: what was heard is not measured");
    // What was heard, however a busy machine made the output stutter: the
    // stutters' silences are left out.
    const double span = recorder.soundingSeconds();
    const double heard = recorder.playedSeconds();
    const double end = recorder.secondsAbove(1100);
    qInfo("1.5 s played, %.3f s heard over %.3f s, %.3f s of the last tone", heard, span, end);
    QVERIFY(heard > 1.4 && heard < 1.55);
    QVERIFY(end > 0.07 && end < 0.12);
  }

  void aFileReplacedUnderTheSameNameIsHeardAnew() {
    Playback playback;
    const std::string path = writeTone("same.wav", 1.0, 440);
    const qint64 first = playToTheEnd(playback, path);
    QVERIFY(first >= 950);
    QCOMPARE(playback.duration(), qint64{1000});
    // A new render puts a shorter sound in its place: that is what plays.
    writeTone("same.wav", 0.4, 880);
    Recorder recorder;
    const bool recording = recorder.start();
    const qint64 second = playToTheEnd(playback, path);
    QVERIFY(second >= 350);
    QCOMPARE(playback.duration(), qint64{400});
    if (!recording) QSKIP("parec is not installed: what was heard is not measured");
    recorder.soundingSeconds();
    const double heard = recorder.playedSeconds();
    qInfo("0.4 s played, %.3f s heard", heard);
    QVERIFY(heard > 0.37 && heard < 0.45);
  }

  // A stereo render plays as stereo, for as long as it lasts.
  void aStereoFilePlaysToItsEnd() {
    const std::vector<std::int16_t> left = tone(0.8, 440);
    const std::vector<std::int16_t> right = tone(0.8, 660);
    std::vector<std::int16_t> frames;
    for (std::size_t i = 0; i < left.size(); ++i) {
      frames.push_back(left[i]);
      frames.push_back(right[i]);
    }
    const std::string path = dir_->file("stereo.wav");
    writeFile(path, waveBytes(pcm16Bytes(frames), 2, 16, 44100));
    Playback playback;
    const qint64 took = playToTheEnd(playback, path);
    QVERIFY(took >= 750);
    QCOMPARE(playback.duration(), qint64{800});
  }

  void stoppingEndsAtOnceAndAFileThatIsNoWaveIsNotPlayed() {
    Playback playback;
    QSignalSpy playing(&playback, &Playback::playingChanged);
    playback.play(QString::fromStdString(writeTone("long.wav", 5.0, 440)));
    QVERIFY(playback.isPlaying());
    QTest::qWait(300);
    playback.stop();
    QVERIFY(!playback.isPlaying());
    QCOMPARE(playing.count(), 2);
    QVERIFY(playback.position() < 2000);

    writeFile(dir_->file("text.wav"), {'h', 'i'});
    playback.play(QString::fromStdString(dir_->file("text.wav")));
    playback.play(QString::fromStdString(dir_->file("missing.wav")));
    QVERIFY(!playback.isPlaying());
    QCOMPARE(playing.count(), 2);
  }

  void playGeneratedTogglesToStopAndMovesThePlayhead() {
    resetWindowState();
    MainWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    const MainWindowControls& c = window.controls();
    const std::string picture = dir_->file("p.png");
    QImage image(8, 40, QImage::Format_RGB32);
    image.fill(Qt::white);
    QVERIFY(image.save(QString::fromStdString(picture)));
    QVERIFY(loadPictureFile(window, picture));
    renderSettings.durationSeconds = 3.0f;
    renderSettings.outputPath = dir_->file("out.wav");
    QVERIFY(renderToOutput(window));

    c.playButton->click();
    QCOMPARE(c.playButton->text(), QString("Stop playing"));
    QVERIFY(playbackOf(window).isPlaying());
    QTRY_VERIFY_WITH_TIMEOUT(c.previewFrame->playhead() > 0.1, 5000);
    QVERIFY(c.previewFrame->playheadY() > c.previewFrame->interior().top());
    c.playButton->click();
    QVERIFY(!playbackOf(window).isPlaying());
    QCOMPARE(c.playButton->text(), QString("Play generated"));
    QCOMPARE(c.previewFrame->playheadY(), -1);
    resetWindowState();
  }
};

QTEST_MAIN(PlaybackTest)
#include "playback_test.moc"
