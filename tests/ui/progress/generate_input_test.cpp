// SPDX-License-Identifier: GPL-3.0-or-later
// Generate with an input that needs decoding: decoded once behind its own
// progress dialog and kept for the next Generate while the file is
// unchanged, decoded again once it changes; Cancel starts nothing; a file
// that cannot be read is refused in the reader's words.
#include <QApplication>
#include <QProgressDialog>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <cmath>
#include <filesystem>
#include <memory>

#include "files/audio_input.h"
#include "support/test_support.h"
#include "support/window_support.h"
#include "ui/common/app_state.h"
#include "ui/common/input_decode.h"
#include "ui/progress/progress_dialog.h"

using namespace vellomar;
using namespace vellomar::test;

namespace {

// A 16-bit mono wave at 48000 Hz, which any audio decodes to 44100 Hz.
void writeFastWave(const std::string& path, double seconds, double hz) {
  const auto frames = static_cast<std::size_t>(seconds * 48000);
  std::vector<std::int16_t> samples(frames);
  for (std::size_t i = 0; i < frames; ++i) {
    samples[i] = static_cast<std::int16_t>(std::lround(9000.0 * std::sin(2.0 * M_PI * hz * i / 48000.0)));
  }
  writeFile(path, waveBytes(pcm16Bytes(samples), 1, 16, 48000));
}

std::size_t entriesIn(const std::string& folder) {
  return static_cast<std::size_t>(std::distance(std::filesystem::directory_iterator(folder), {}));
}

}  // namespace

class GenerateInputTest : public QObject {
  Q_OBJECT

  std::unique_ptr<TempDir> dir_;

  void useInput(const std::string& name) {
    renderSettings.inputSource = InputSource::WaveFile;
    renderSettings.inputPath = dir_->file(name);
    fileOptions.input.anyAudio = true;
  }

 private slots:
  void init() {
    resetWindowState();
    windowInputs().clear();
    dir_ = std::make_unique<TempDir>();
  }
  void cleanup() {
    dir_.reset();
    windowInputs().clear();
    resetWindowState();
  }

  void aSecondGenerateReusesTheDecodeUntilTheFileChanges() {
    WindowPicture picture(8, 8, [](std::uint32_t x, std::uint32_t) { return x < 4 ? 255 : 0; });
    MessageRecorder messages;
    useInput("fast.wav");
    writeFastWave(renderSettings.inputPath, 0.5, 440.0);
    const std::uint64_t before = windowInputs().decodes();

    renderSettings.outputPath = dir_->file("a.wav");
    QCOMPARE(runProgressDialog(nullptr), kRenderCompleted);
    QCOMPARE(windowInputs().decodes(), before + 1);
    renderSettings.outputPath = dir_->file("b.wav");
    QCOMPARE(runProgressDialog(nullptr), kRenderCompleted);
    QCOMPARE(windowInputs().decodes(), before + 1);
    QCOMPARE(waveSamples(dir_->file("a.wav")).size(), std::size_t{22050});
    QCOMPARE(readFile(dir_->file("a.wav")), readFile(dir_->file("b.wav")));

    // Rewritten, a second longer: decoded again, and heard at its length.
    writeFastWave(renderSettings.inputPath, 1.5, 660.0);
    renderSettings.outputPath = dir_->file("c.wav");
    QCOMPARE(runProgressDialog(nullptr), kRenderCompleted);
    QCOMPARE(windowInputs().decodes(), before + 2);
    QCOMPARE(waveSamples(dir_->file("c.wav")).size(), std::size_t{66150});
    QVERIFY(messages.messages().empty());
  }

  void cancelDuringTheDecodeStartsNothing() {
    WindowPicture picture(8, 8, [](std::uint32_t, std::uint32_t) { return 200; });
    MessageRecorder messages;
    useInput("long.wav");
    // Far longer to decode than the test takes to press Cancel.
    writeFastWave(renderSettings.inputPath, 300.0, 440.0);
    renderSettings.outputPath = dir_->file("out.wav");
    const std::uint64_t before = windowInputs().decodes();

    bool pressed = false;
    pressCancelOnBackgroundWork(pressed);
    QCOMPARE(runProgressDialog(nullptr), kRenderEnded);
    QVERIFY(pressed);
    QVERIFY(messages.messages().empty());
    QVERIFY(!fileExists(renderSettings.outputPath));
    QCOMPARE(entriesIn(dir_->path()), std::size_t{1});
    QCOMPARE(windowInputs().decodes(), before);
    AudioInputRules rules = fileOptions.input;
    QVERIFY(windowInputs().needsDecode(renderSettings.inputPath, rules));
    QVERIFY(!abortRequested);
  }

  void anUnreadableFileIsRefusedInTheReadersWords() {
    WindowPicture picture(8, 8, [](std::uint32_t, std::uint32_t) { return 200; });
    MessageRecorder messages;
    useInput("noise.flac");
    writeFile(renderSettings.inputPath, std::vector<std::uint8_t>(5000, 0x33));
    renderSettings.outputPath = dir_->file("earlier.wav");
    writeFile(renderSettings.outputPath, {'k', 'e', 'e', 'p'});
    AudioInputRules rules = fileOptions.input;
    AudioInput input;
    Refusal expected;
    QVERIFY(!openAudioInput(renderSettings.inputPath, rules, input, expected));

    QCOMPARE(runProgressDialog(nullptr), kRenderEnded);
    QCOMPARE(messages.messages().size(), std::size_t{1});
    QCOMPARE(messages.messages()[0].text, expected.text);
    QVERIFY(expected.text.find("Cannot read input sound file") != std::string::npos);
    QCOMPARE(readFile(renderSettings.outputPath), (std::vector<std::uint8_t>{'k', 'e', 'e', 'p'}));
    QCOMPARE(entriesIn(dir_->path()), std::size_t{2});
  }
};

QTEST_MAIN(GenerateInputTest)
#include "generate_input_test.moc"
