// SPDX-License-Identifier: GPL-3.0-or-later
// Playing in the main window: a click on the preview or the time axis
// plays from there, a Shift-drag loops the range and shows it, the Play
// menu loops a range typed in and stops looping, Generate stops what
// plays, and a sound that is gone says so. Needs an audio output
// (scripts/audio-sink.sh starts a null sink); without one every test is
// skipped, saying so.
#include <QAction>
#include <QApplication>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QLabel>
#include <QMediaDevices>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <filesystem>
#include <memory>

#include "files/messages.h"
#include "support/test_support.h"
#include "support/window_support.h"
#include "ui/axes/preview_frame.h"
#include "ui/main_window/main_window.h"
#include "ui/main_window/window_commands.h"
#include "ui/playback/play_controls.h"
#include "ui/playback/playback.h"

using namespace vellomar;
using namespace vellomar::test;

namespace {

// The preview's point at `fraction` of the time axis.
QPoint previewPointAt(const PreviewFrame& frame, qreal fraction) {
  const QRect inside = frame.interior();
  return QPoint(inside.center().x(), inside.top() + static_cast<int>(fraction * inside.height()));
}

}  // namespace

class PlaybackWindowTest : public QObject {
  Q_OBJECT

  std::unique_ptr<TempDir> dir_;
  std::unique_ptr<MainWindow> window_;

  const MainWindowControls& c() const { return window_->controls(); }
  Playback& playback() { return playbackOf(*window_); }

 private slots:
  // A window with a 3 s sound generated.
  void init() {
    if (QMediaDevices::defaultAudioOutput().isNull()) {
      QSKIP("No audio output here: start PulseAudio with a null sink (scripts/audio-sink.sh) to test playback");
    }
    dir_ = std::make_unique<TempDir>();
    resetWindowState();
    window_ = std::make_unique<MainWindow>();
    window_->show();
    QVERIFY(QTest::qWaitForWindowExposed(window_.get()));
    const std::string picture = dir_->file("p.png");
    QImage image(8, 40, QImage::Format_RGB32);
    image.fill(Qt::white);
    QVERIFY(image.save(QString::fromStdString(picture)));
    QVERIFY(loadPictureFile(*window_, picture));
    renderSettings.durationSeconds = 3.0f;
    renderSettings.outputPath = dir_->file("out.wav");
    QVERIFY(renderToOutput(*window_));
  }
  void cleanup() {
    window_.reset();
    dir_.reset();
    setMessagePresenter({});
    resetWindowState();
  }

  void aClickOnThePreviewOrTheTimeAxisPlaysFromThere() {
    QSignalSpy positions(&playback(), &Playback::positionChanged);
    QTest::mouseClick(c().previewFrame, Qt::LeftButton, {}, previewPointAt(*c().previewFrame, 0.5));
    QVERIFY(playback().isPlaying());
    QCOMPARE(c().playButton->text(), QString("Stop playing"));
    QVERIFY(std::abs(positions.first().at(0).toLongLong() - 1500) < 80);
    QTRY_VERIFY_WITH_TIMEOUT(playback().position() > 1600, 5000);

    // While playing, a click on the time axis goes there.
    const QPoint onFrame = previewPointAt(*c().previewFrame, 0.1);
    const QPoint onStrip = c().timeAxisStrip->mapFromGlobal(c().previewFrame->mapToGlobal(onFrame));
    QTest::mouseClick(c().timeAxisStrip, Qt::LeftButton, {}, QPoint(c().timeAxisStrip->width() / 2, onStrip.y()));
    QTRY_VERIFY_WITH_TIMEOUT(playback().position() < 1000, 3000);
    QVERIFY(playback().position() >= 250);
    QVERIFY(playback().isPlaying());
  }

  void aShiftDragLoopsTheRangeAndShowsIt() {
    PreviewFrame* frame = c().previewFrame;
    QTest::mousePress(frame, Qt::LeftButton, Qt::ShiftModifier, previewPointAt(*frame, 0.6));
    QTest::mouseMove(frame, previewPointAt(*frame, 0.45));
    QVERIFY(frame->loopTo() > frame->loopFrom());
    QVERIFY(!playback().looping());
    QTest::mouseRelease(frame, Qt::LeftButton, Qt::ShiftModifier, previewPointAt(*frame, 0.4));
    QVERIFY(playback().looping());
    QVERIFY(std::abs(playback().loopFrom() - 1200) < 80);
    QVERIFY(std::abs(playback().loopTo() - 1800) < 80);
    QVERIFY(std::abs(frame->loopFrom() - 0.4) < 0.03 && std::abs(frame->loopTo() - 0.6) < 0.03);
    QVERIFY(playback().isPlaying());
    QVERIFY(playControlsOf(*window_)->stopLoopingAction()->isEnabled());

    // Round and round, past the sound's length, inside the band.
    QSignalSpy positions(&playback(), &Playback::positionChanged);
    QTest::qWait(3500);
    QVERIFY(playback().isPlaying());
    for (const auto& p : positions) {
      QVERIFY(p.at(0).toLongLong() >= playback().loopFrom() && p.at(0).toLongLong() <= playback().loopTo());
    }
    // "Play generated" stops, and starts the loop again from its start.
    c().playButton->click();
    QVERIFY(!playback().isPlaying());
    QCOMPARE(frame->loopTo() > frame->loopFrom(), true);
    c().playButton->click();
    QVERIFY(std::abs(playback().position() - playback().loopFrom()) < 20);

    playControlsOf(*window_)->stopLoopingAction()->trigger();
    QVERIFY(!playback().looping());
    QCOMPARE(frame->loopTo(), frame->loopFrom());
    QVERIFY(!playControlsOf(*window_)->stopLoopingAction()->isEnabled());
  }

  void thePlayMenuLoopsARangeTypedIn() {
    QTimer::singleShot(0, [] {
      QWidget* dialog = QApplication::activeModalWidget();
      QVERIFY(dialog);
      auto* from = dialog->findChild<QDoubleSpinBox*>(QStringLiteral("loopFrom"));
      auto* to = dialog->findChild<QDoubleSpinBox*>(QStringLiteral("loopTo"));
      QCOMPARE(to->value(), 3.0);
      QCOMPARE(to->maximum(), 3.0);
      auto* ok = dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok);
      to->setValue(0.5);
      from->setValue(1.0);
      QVERIFY(!ok->isEnabled());  // an empty range
      to->setValue(2.25);
      QVERIFY(ok->isEnabled());
      ok->click();
    });
    playControlsOf(*window_)->loopAction()->trigger();
    QVERIFY(playback().looping());
    QCOMPARE(playback().loopFrom(), qint64{1000});
    QCOMPARE(playback().loopTo(), qint64{2250});
    QVERIFY(playback().isPlaying());
  }

  void generateStopsWhatPlays() {
    QSignalSpy playing(&playback(), &Playback::playingChanged);
    c().playButton->click();
    QVERIFY(playback().isPlaying());
    QTest::qWait(300);
    QVERIFY(renderToOutput(*window_));
    QVERIFY(!playback().isPlaying());
    QCOMPARE(playing.count(), 2);
    QCOMPARE(c().playButton->text(), QString("Play generated"));
    QCOMPARE(c().previewFrame->playheadY(), -1);
    // The new sound plays as before.
    c().playButton->click();
    QVERIFY(playback().isPlaying());
  }

  void aSoundThatIsGoneSaysSo() {
    std::string shown;
    setMessagePresenter([&](MessageOwner, unsigned, const std::string&, const std::string& text) {
      shown = text;
      return kButtonOk;
    });
    std::filesystem::remove(renderSettings.outputPath);
    c().playButton->click();
    QVERIFY(!playback().isPlaying());
    QVERIFY2(shown.find("out.wav' is not there any more") != std::string::npos, shown.c_str());
    QCOMPARE(c().playButton->text(), QString("Play generated"));
  }
};

QTEST_MAIN(PlaybackWindowTest)
#include "playback_window_test.moc"
