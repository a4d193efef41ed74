// SPDX-License-Identifier: GPL-3.0-or-later
// The window's analyses of sound files run in the background: the window
// keeps handling events meanwhile, a decode is kept for the next analysis,
// Cancel (or a size not chosen) stops with nothing to tell, a second call
// while one runs is cancelled at once, and a file that cannot be read is
// refused in the reader's own words.
#include <QApplication>
#include <QTest>
#include <QTimer>
#include <cmath>
#include <memory>

#include "files/analysis_setup.h"
#include "support/test_support.h"
#include "support/window_support.h"
#include "ui/common/app_state.h"
#include "ui/common/input_decode.h"
#include "ui/progress/background_analysis.h"

using namespace vellomar;
using namespace vellomar::test;

class BackgroundAnalysisTest : public QObject {
  Q_OBJECT

  std::unique_ptr<TempDir> dir_;
  std::string wave_;

  ResultCode analyse(PreparedAnalysis& prepared, Refusal& refusal, const AnalysisSteps& steps = {}) {
    return analyseInBackground(nullptr, wave_, renderSettings, 0, 0, steps, prepared, refusal);
  }

 private slots:
  void init() {
    resetWindowState();
    windowInputs().clear();
    dir_ = std::make_unique<TempDir>();
    // Stereo at 48 kHz: decoded, with any audio on.
    const std::vector<std::int16_t> left = speechLike(48000 * 20, 12000);
    std::vector<std::int16_t> frames;
    for (std::size_t i = 0; i < left.size(); ++i) {
      frames.push_back(left[i]);
      frames.push_back(static_cast<std::int16_t>(left[i] / 3));
    }
    wave_ = dir_->file("take.wav");
    writeFile(wave_, waveBytes(pcm16Bytes(frames), 2, 16, 48000));
    fileOptions.input.anyAudio = true;
  }
  void cleanup() {
    windowInputs().clear();
    resetWindowState();
  }

  void analysesWhileTheWindowHandlesEventsAndKeepsTheDecode() {
    int ticks = 0;
    QTimer timer;
    timer.setInterval(0);
    connect(&timer, &QTimer::timeout, this, [&ticks] { ++ticks; });
    timer.start();
    PreparedAnalysis first;
    Refusal refusal;
    QCOMPARE(analyse(first, refusal), kResultOk);
    timer.stop();
    QVERIFY(ticks > 0);
    QVERIFY(!refusal);
    QVERIFY(first.picture != nullptr);
    QVERIFY(!first.picture->red.empty());  // stereo: a colour picture
    QCOMPARE(first.job.input, static_cast<std::FILE*>(nullptr));
    QCOMPARE(windowInputs().decodes(), std::uint64_t{1});
    // Again: the same picture, from the kept decode.
    PreparedAnalysis second;
    QCOMPARE(analyse(second, refusal), kResultOk);
    QCOMPARE(windowInputs().decodes(), std::uint64_t{1});
    QVERIFY(second.picture->pixels == first.picture->pixels);
  }

  void cancelOrNoSizeStopsWithNothingToTell() {
    bool pressed = false;
    pressCancelOnBackgroundWork(pressed);
    PreparedAnalysis prepared;
    Refusal refusal;
    QCOMPARE(analyse(prepared, refusal), kResultAborted);
    QVERIFY(pressed);
    QVERIFY(!refusal);
    QCOMPARE(prepared.job.input, static_cast<std::FILE*>(nullptr));
    // The size asked once the file is open: not chosen stops; chosen is
    // the picture's.
    AnalysisSteps steps;
    steps.chooseSize = [](std::uint32_t&, std::uint32_t&) { return false; };
    PreparedAnalysis none;
    QCOMPARE(analyse(none, refusal, steps), kResultAborted);
    QVERIFY(!refusal);
    steps.chooseSize = [](std::uint32_t& w, std::uint32_t& h) {
      w = 64;
      h = 33;
      return true;
    };
    PreparedAnalysis sized;
    QCOMPARE(analyse(sized, refusal, steps), kResultOk);
    QCOMPARE(sized.picture->width, 64u);
    QCOMPARE(sized.picture->height, 33u);
  }

  void aCallWhileOneRunsIsCancelledAtOnce() {
    ResultCode inner = -1;
    AnalysisSteps steps;
    steps.chooseSize = [&](std::uint32_t&, std::uint32_t&) {
      PreparedAnalysis other;
      Refusal refusal;
      inner = analyse(other, refusal);
      return true;
    };
    PreparedAnalysis prepared;
    Refusal refusal;
    QCOMPARE(analyse(prepared, refusal, steps), kResultOk);
    QCOMPARE(inner, kResultAborted);
  }

  void aFileThatIsNoSoundIsRefusedInTheReadersWords() {
    wave_ = dir_->file("notes.txt");
    writeFile(wave_, {'n', 'o', 't', 'e', 's'});
    PreparedAnalysis prepared;
    Refusal refusal;
    QVERIFY(analyse(prepared, refusal) != kResultOk);
    PreparedAnalysis direct;
    Refusal expected;
    AudioInputRules rules = fileOptions.input;
    rules.anyAudioHint = "turn on \"Read any audio file\" in Options";
    QVERIFY(!prepareAnalysis(wave_, renderSettings, 0, 0, rules, direct, expected));
    QVERIFY(!refusal.text.empty());
    QCOMPARE(refusal.text, expected.text);
  }
};

QTEST_MAIN(BackgroundAnalysisTest)
#include "background_analysis_test.moc"
