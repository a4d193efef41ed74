// SPDX-License-Identifier: GPL-3.0-or-later
// Hearing the picture change while it plays: an edit of the document is
// rendered in the background and heard while playing goes on, its sound
// then replaces the output file whole; a save by another program plays at
// once and a picture of another size stops playing, saying why; Generate
// ends the background render. Needs an audio output (scripts/audio-sink.sh
// starts a null sink); without one every test is skipped, saying so.
#include <QAction>
#include <QApplication>
#include <QMediaDevices>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <atomic>
#include <cmath>
#include <filesystem>
#include <memory>
#include <vector>

#include "support/test_support.h"
#include "support/window_support.h"
#include "ui/document/picture_document.h"
#include "ui/document/picture_planes.h"
#include "ui/main_window/main_window.h"
#include "ui/main_window/window_commands.h"
#include "ui/playback/live_render.h"
#include "ui/playback/playback.h"
#include "ui/view/picture_watcher.h"
#include "ui/view/view_menu.h"
#include "ui/common/app_state.h"
#include "ui/common/input_decode.h"
#include "files/audio_output.h"

using namespace vellomar;
using namespace vellomar::test;

namespace {

constexpr int kRate = 44100;

// A picture with something at every frequency and time, saved as another
// program saves: written aside, then renamed into place.
void savePicture(const std::string& path, int width, int height, int level) {
  QImage image(width, height, QImage::Format_RGB32);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const int v = std::clamp(level + static_cast<int>(60 * std::sin(x * 0.4 + y * 0.3)), 0, 255);
      image.setPixel(x, y, qRgb(v, v, v));
    }
  }
  const std::string temporary = path + ".part.png";
  QVERIFY(image.save(QString::fromStdString(temporary)));
  std::filesystem::rename(temporary, path);
}

}  // namespace

class PlaybackLiveTest : public QObject {
  Q_OBJECT

  std::unique_ptr<TempDir> dir_;
  std::unique_ptr<MainWindow> window_;
  std::string picture_;

  const MainWindowControls& c() const { return window_->controls(); }
  Playback& playback() { return playbackOf(*window_); }
  LiveRender& live() { return *liveRenderOf(*window_); }

 private slots:
  // A window with a 4 s pink noise generated from a 64 x 64 picture.
  void init() {
    if (QMediaDevices::defaultAudioOutput().isNull()) {
      QSKIP("No audio output here: start PulseAudio with a null sink (scripts/audio-sink.sh) to test playback");
    }
    dir_ = std::make_unique<TempDir>();
    resetWindowState();
    window_ = std::make_unique<MainWindow>();
    window_->show();
    QVERIFY(QTest::qWaitForWindowExposed(window_.get()));
    picture_ = dir_->file("p.png");
    savePicture(picture_, 64, 64, 180);
    QVERIFY(loadPictureFile(*window_, picture_));
    renderSettings.durationSeconds = 4.0f;
    renderSettings.outputPath = dir_->file("out.wav");
    QVERIFY(renderToOutput(*window_));
  }
  void cleanup() {
    window_.reset();
    dir_.reset();
    resetWindowState();
  }

  // Rows 16 ... 39 (1 s to 2.5 s) turn black while 1.2 s plays: the
  // change is heard soon after, in the middle of the sound, with playing
  // going on to the end; the output file takes the new sound, the rest of
  // it as it was, and the noise moves on no further.
  void anEditIsHeardWhilePlayingGoesOn() {
    const std::vector<std::int16_t> before = waveSamples(renderSettings.outputPath);
    const std::int32_t seed = randomSeed;
    auto handed = std::make_shared<std::vector<float>>(before.size(), 2.0f);
    playback().setHandoffObserver([handed](std::int64_t first, std::int64_t n, const float* samples) {
      std::copy(samples, samples + n, handed->begin() + first);
    });
    QSignalSpy playing(&playback(), &Playback::playingChanged);
    QSignalSpy committed(&live(), &LiveRender::committed);
    c().playButton->click();
    QVERIFY(QTest::qWaitFor([&] { return playback().position() >= 1200; }, 5000));
    const qint64 editedAt = playback().position();

    PictureDocument& document = window_->document();
    QVERIFY(document.makeEditable());
    PictureBitmap& p = document.editablePicture();
    for (int y = 16; y < 40; ++y) {
      for (int x = 0; x < 64; ++x) setColour(p, x, y, Rgb{0, 0, 0});
    }
    document.touch(RowSpans(16, 40), PixelRect{0, 16, 64, 40});
    QVERIFY(live().session() != nullptr);

    QVERIFY(QTest::qWaitFor([&] { return !playback().isPlaying(); }, 10000));
    QCOMPARE(playing.count(), 2);
    QCOMPARE(playback().position(), qint64{4000});
    // Heard: the sound as it was up to the edit, near silence soon after.
    std::int64_t quiet = -1;
    for (std::int64_t f = editedAt * kRate / 1000; f < 2500 * kRate / 1000 && quiet < 0; ++f) {
      bool still = true;
      for (std::int64_t k = 0; k < 441 && still; ++k) still = std::abs((*handed)[static_cast<std::size_t>(f + k)]) < 0.01f;
      if (still) quiet = f;
    }
    qInfo("edited at %lld ms of playing; quiet from %lld ms of the sound", editedAt,
          static_cast<long long>(quiet * 1000 / kRate));
    QVERIFY(quiet > 0);
    QVERIFY(quiet * 1000 / kRate < editedAt + 1000);

    QTRY_COMPARE_WITH_TIMEOUT(committed.count(), 1, 10000);
    const std::vector<std::int16_t> after = waveSamples(renderSettings.outputPath);
    QCOMPARE(after.size(), before.size());
    QVERIFY(std::equal(before.begin(), before.begin() + kRate * 3 / 4, after.begin()));
    for (std::size_t i = kRate * 3 / 2; i < kRate * 2; ++i) QVERIFY(std::abs(after[i]) < 300);
    QVERIFY(std::equal(before.begin() + kRate * 3, before.end(), after.begin() + kRate * 3));
    QCOMPARE(randomSeed, seed);
  }

  // Nothing plays: a save by another program plays as soon as its first
  // blocks are rendered, then replaces the output file; no progress
  // dialog holds the window meanwhile.
  void aSaveByAnotherProgramPlaysAtOnceAndThenReplacesTheFile() {
    ViewMenu& view = *viewMenuOf(*window_);
    view.watcher().setTimings(60, 60, 4);
    view.watchAction()->trigger();
    const auto before = readFile(renderSettings.outputPath);
    QSignalSpy committed(&live(), &LiveRender::committed);
    savePicture(picture_, 64, 64, 60);
    QTRY_VERIFY_WITH_TIMEOUT(playback().isPlaying(), 10000);
    QVERIFY(QApplication::activeModalWidget() == nullptr);
    QTRY_COMPARE_WITH_TIMEOUT(committed.count(), 1, 10000);
    QVERIFY(readFile(renderSettings.outputPath) != before);
    QVERIFY(view.status().startsWith("Watching 'p.png'; rendered at "));
  }

  // While playing, a save of another size stops playing and says why.
  void aPictureOfAnotherSizeWhilePlayingStopsPlayingSayingWhy() {
    ViewMenu& view = *viewMenuOf(*window_);
    view.watcher().setTimings(60, 60, 4);
    view.watchAction()->trigger();
    savePicture(picture_, 64, 64, 90);  // a render in the background to revise
    QTRY_VERIFY_WITH_TIMEOUT(live().session() != nullptr && playback().isPlaying(), 10000);
    savePicture(picture_, 32, 64, 90);
    QTRY_VERIFY_WITH_TIMEOUT(!playback().isPlaying(), 10000);
    QVERIFY2(view.status().contains("32 x 64 pixels instead of 64 x 64"), qPrintable(view.status()));
    QVERIFY(window_->windowTitle().contains("playing stopped"));

    // A picture that cannot be read while playing stops it too.
    c().playButton->click();
    QVERIFY(playback().isPlaying());
    writeFile(picture_, {0x89, 'P', 'N', 'G', '\r', '\n'});
    QTRY_VERIFY_WITH_TIMEOUT(!playback().isPlaying(), 10000);
    QVERIFY(view.status().contains("could not be loaded; playing stopped"));
  }

  // What the background render commits is what Generate writes for the
  // edited picture from the same noise: pink noise to a wave, and a wave
  // input to a FLAC file.
  void aBackgroundRenderCommitsWhatGenerateWrites() {
    for (const bool waveInput : {false, true}) {
      if (waveInput) {
        std::vector<std::int16_t> samples(3 * kRate);
        for (std::size_t i = 0; i < samples.size(); ++i) {
          samples[i] = static_cast<std::int16_t>(9000 * std::sin(i * 0.07) + 5000 * std::sin(i * 0.0031 * (i % 97)));
        }
        const std::string input = dir_->file("in.wav");
        writeFile(input, waveBytes(pcm16Bytes(samples), 1, 16, kRate));
        renderSettings.inputSource = InputSource::WaveFile;
        renderSettings.inputPath = input;
        inputWaveDuration = 3.0f;
        renderSettings.outputPath = dir_->file("out.flac");
        fileOptions.output.kind = OutputKind::Flac16;
      }
      const std::int32_t seed = randomSeed;
      QVERIFY(renderToOutput(*window_));
      QSignalSpy committed(&live(), &LiveRender::committed);
      PictureDocument& document = window_->document();
      QVERIFY(document.makeEditable());
      for (int y = 20; y < 30; ++y) {
        for (int x = 10; x < 50; ++x) setColour(document.editablePicture(), x, y, Rgb{255, 255, 255});
      }
      document.touch(RowSpans(20, 30), PixelRect{10, 20, 50, 30});
      QTRY_COMPARE_WITH_TIMEOUT(committed.count(), 1, 10000);
      const std::vector<std::uint8_t> background = readFile(renderSettings.outputPath);

      randomSeed = seed;
      QVERIFY(renderToOutput(*window_));
      QVERIFY2(readFile(renderSettings.outputPath) == background, waveInput ? "wave input, FLAC" : "pink noise");
    }
  }

  void generateEndsTheBackgroundRender() {
    PictureDocument& document = window_->document();
    QVERIFY(document.makeEditable());
    setColour(document.editablePicture(), 3, 3, Rgb{255, 0, 0});
    document.touch(RowSpans(3, 4), PixelRect{3, 3, 4, 4});
    QVERIFY(live().session() != nullptr);
    const std::int32_t seed = randomSeed;
    QVERIFY(renderToOutput(*window_));
    QVERIFY(live().session() == nullptr);
    QVERIFY(randomSeed != seed);  // a Generate moves the noise on
    // The next edit revises the new sound.
    setColour(document.editablePicture(), 3, 3, Rgb{0, 0, 0});
    document.touch(RowSpans(3, 4), PixelRect{3, 3, 4, 4});
    QVERIFY(live().session() != nullptr);
  }

  // An input that needs decoding is decoded once and kept: by Generate
  // for the background render, by the background render for Generate.
  void generateAndTheBackgroundRenderShareOneDecode() {
    const std::string input = dir_->file("fast.wav");
    writeFile(input, waveBytes(pcm16Bytes(speechLike(4 * 48000, 8000)), 1, 16, 48000));
    renderSettings.inputSource = InputSource::WaveFile;
    renderSettings.inputPath = input;
    inputWaveDuration = 4.0f;
    fileOptions.input.anyAudio = true;
    windowInputs().clear();
    const std::uint64_t before = windowInputs().decodes();
    QVERIFY(renderToOutput(*window_));
    QCOMPARE(windowInputs().decodes(), before + 1);

    PictureDocument& document = window_->document();
    QVERIFY(document.makeEditable());
    setColour(document.editablePicture(), 3, 3, Rgb{255, 0, 0});
    document.touch(RowSpans(3, 4), PixelRect{3, 3, 4, 4});
    QVERIFY(live().session() != nullptr);
    QCOMPARE(windowInputs().decodes(), before + 1);

    // Nothing kept: the background render decodes, Generate then reuses it.
    QVERIFY(renderToOutput(*window_));
    windowInputs().clear();
    setColour(document.editablePicture(), 3, 3, Rgb{0, 0, 0});
    document.touch(RowSpans(3, 4), PixelRect{3, 3, 4, 4});
    QVERIFY(live().session() != nullptr);
    QCOMPARE(windowInputs().decodes(), before + 2);
    QVERIFY(renderToOutput(*window_));
    QCOMPARE(windowInputs().decodes(), before + 2);
    windowInputs().clear();
  }
};

QTEST_MAIN(PlaybackLiveTest)
#include "playback_live_test.moc"
