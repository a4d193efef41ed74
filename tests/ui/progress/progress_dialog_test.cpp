// SPDX-License-Identifier: GPL-3.0-or-later
// The progress dialog with its real worker thread, rendering real files.
#include "ui/progress/progress_dialog.h"

#include <QApplication>
#include <QKeyEvent>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <filesystem>
#include <memory>

#include "engine/settings.h"
#include "engine/source.h"
#include "files/messages.h"
#include "support/test_support.h"
#include "support/window_support.h"

using namespace vellomar;
using namespace vellomar::test;

namespace {

// Runs `action` on the progress dialog once it is open and the render is
// under way (the progress bar has moved or the worker has been started).
void whenDialogRuns(std::function<void(ProgressDialog*)> action) {
  // The pending timer owns the poll; the poll only refers to itself weakly,
  // so it goes away once the action has run.
  auto poll = std::make_shared<std::function<void()>>();
  std::weak_ptr<std::function<void()>> self = poll;
  *poll = [action, self] {
    auto* dialog = qobject_cast<ProgressDialog*>(QApplication::activeModalWidget());
    if (dialog != nullptr && dialog->isVisible() && dialog->progressBar()->value() > 0) {
      action(dialog);
      return;
    }
    if (auto again = self.lock()) QTimer::singleShot(5, [again] { (*again)(); });
  };
  QTimer::singleShot(0, [poll] { (*poll)(); });
}

bool allZero(const std::vector<std::int16_t>& samples) {
  for (std::int16_t s : samples) {
    if (s != 0) return false;
  }
  return true;
}

}  // namespace

class ProgressDialogTest : public QObject {
  Q_OBJECT

 private slots:
  void init() { resetWindowState(); }
  void cleanup() { resetWindowState(); }

  void completedRenderWritesTheWholeFile() {
    TempDir dir;
    WindowPicture picture(16, 8, [](std::uint32_t x, std::uint32_t) { return x < 8 ? 255 : 0; });
    MessageRecorder messages;
    renderSettings.inputSource = InputSource::WhiteNoise;
    renderSettings.frequencyScale = FrequencyScale::Linear;
    renderSettings.durationSeconds = 0.5f;
    renderSettings.outputPath = dir.file("out.wav");

    QCOMPARE(runProgressDialog(nullptr), kRenderCompleted);
    QVERIFY(messages.messages().empty());

    const std::vector<std::uint8_t> bytes = readFile(renderSettings.outputPath);
    QCOMPARE(bytes.size(), std::size_t{44 + 2 * 22050});
    QCOMPARE(le32(bytes, 40), std::uint32_t{2 * 22050});
    QCOMPARE(le16(bytes, 22), std::uint16_t{1});
    QCOMPARE(le32(bytes, 24), std::uint32_t{44100});
    QCOMPARE(le16(bytes, 34), std::uint16_t{16});
    const std::vector<std::int16_t> samples = waveSamples(renderSettings.outputPath);
    QVERIFY(!allZero(samples));
    // The left half of the picture is white: a low-passed noise.
    QVERIFY(bandEnergy(samples, 0, 10000) > 20 * bandEnergy(samples, 12000, 22050));
    // Nothing is left beside it, and the next noise render continues the
    // generator where this one stopped (two blocks of 8192 samples).
    QCOMPARE(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
    QCOMPARE(randomSeed, advanceNoiseState(kInitialRandomSeed, 2 * 16384));
  }

  void abortDisablesTheButtonAndRemovesTheFile() {
    TempDir dir;
    WindowPicture picture(8, 8, [](std::uint32_t, std::uint32_t) { return 200; });
    MessageRecorder messages;
    renderSettings.durationSeconds = 3000.0f;  // far longer than the test waits
    renderSettings.outputPath = dir.file("long.wav");

    bool disabledAtOnce = false;
    bool escapeIgnored = false;
    whenDialogRuns([&](ProgressDialog* dialog) {
      QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
      QApplication::sendEvent(dialog, &escape);
      escapeIgnored = dialog->isVisible() && dialog->abortButton()->isEnabled() && !abortRequested;
      QTest::mouseClick(dialog->abortButton(), Qt::LeftButton);
      disabledAtOnce = !dialog->abortButton()->isEnabled() && abortRequested;
    });
    QCOMPARE(runProgressDialog(nullptr), kRenderEnded);
    QVERIFY(escapeIgnored);
    QVERIFY(disabledAtOnce);
    QVERIFY(messages.messages().empty());
    QVERIFY(!fileExists(renderSettings.outputPath));
    QCOMPARE(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 0);
  }

  void enterOnAbortAndTheCloseBoxAbortToo() {
    TempDir dir;
    WindowPicture picture(8, 8, [](std::uint32_t, std::uint32_t) { return 200; });
    MessageRecorder messages;
    renderSettings.durationSeconds = 3000.0f;
    renderSettings.outputPath = dir.file("long.wav");

    // The dialog opens with the focus on "Abort", which takes Enter.
    bool focused = false;
    bool aborted = false;
    whenDialogRuns([&](ProgressDialog* dialog) {
      focused = dialog->focusWidget() == dialog->abortButton();
      QTest::keyClick(dialog->abortButton(), Qt::Key_Return);
      aborted = abortRequested && !dialog->abortButton()->isEnabled();
    });
    QCOMPARE(runProgressDialog(nullptr), kRenderEnded);
    QVERIFY(focused);
    QVERIFY(aborted);
    QVERIFY(!fileExists(renderSettings.outputPath));

    // A close box that the window manager shows anyway aborts; the dialog
    // stays until the render has stopped.
    bool stillOpen = false;
    whenDialogRuns([&](ProgressDialog* dialog) {
      QVERIFY(!abortRequested);
      dialog->close();
      stillOpen = dialog->isVisible();
      aborted = abortRequested && !dialog->abortButton()->isEnabled();
    });
    QCOMPARE(runProgressDialog(nullptr), kRenderEnded);
    QVERIFY(stillOpen);
    QVERIFY(aborted);
    QVERIFY(messages.messages().empty());
    QVERIFY(!fileExists(renderSettings.outputPath));
  }

  void progressTextTellsPercentageAndTimeLeft() {
    struct Case {
      int thousandths;
      double seconds;
      const char* text;
    };
    const Case cases[] = {
        {500, 2.9, ""},                          // a short render shows only the bar
        {0, 60.0, ""},                           // nothing to go by yet
        {500, 3.0, "50% - 0:03 left"},           // as long again
        {250, 10.0, "25% - 0:30 left"},          // three times as long again
        {999, 100.0, "99% - 0:00 left"},         // percentages are whole and never reach 100
        {1, 5.0, "0% - 1:23:15 left"},           // 4995 s: hours from one hour on
        {100, 400.0, "10% - 1:00:00 left"},      //
        {800, 237.6, "80% - 0:59 left"},         // 59.4 s
        {400, 83.0, "40% - 2:05 left"},          // 124.5 s rounds up
        {1000, 50.0, ""},                        // done
    };
    for (const Case& c : cases) QCOMPARE(progressText(c.thousandths, c.seconds), QString(c.text));

    ProgressDialog dialog(nullptr);
    QProgressBar* bar = dialog.progressBar();
    dialog.setProgressAt(300, 1.0);
    QCOMPARE(bar->value(), 300);
    QVERIFY(!bar->isTextVisible());
    dialog.setProgressAt(420, 4.2);
    QCOMPARE(bar->value(), 420);
    QVERIFY(bar->isTextVisible());
    QCOMPARE(bar->text(), QString("42% - 0:06 left"));
    QCOMPARE(dialog.windowTitle(), QString("Generating sound..."));
  }

  // The user agreed to replace the file with a new sound, not to lose it:
  // an aborted render leaves it as it was.
  void abortKeepsAFileTheUserAgreedToReplace() {
    TempDir dir;
    WindowPicture picture(8, 8, [](std::uint32_t, std::uint32_t) { return 200; });
    MessageRecorder messages;
    renderSettings.durationSeconds = 3000.0f;
    renderSettings.outputPath = dir.file("old.wav");
    writeFile(renderSettings.outputPath, {1, 2, 3});
    whenDialogRuns([](ProgressDialog* dialog) { dialog->abortButton()->click(); });
    QCOMPARE(runProgressDialog(nullptr), kRenderEnded);
    QCOMPARE(readFile(renderSettings.outputPath), (std::vector<std::uint8_t>{1, 2, 3}));
    QCOMPARE(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
  }

  void abortKeepsALinkThatNamesTheOutput() {
    // The render writes through the link; ending it early removes neither
    // the link nor what it points at (a device, in the worst case).
    TempDir dir;
    WindowPicture picture(8, 8, [](std::uint32_t, std::uint32_t) { return 200; });
    MessageRecorder messages;
    renderSettings.durationSeconds = 3000.0f;
    writeFile(dir.file("target.wav"), {1, 2, 3});
    std::filesystem::create_symlink(dir.file("target.wav"), dir.file("link.wav"));
    renderSettings.outputPath = dir.file("link.wav");
    whenDialogRuns([](ProgressDialog* dialog) { dialog->abortButton()->click(); });
    QCOMPARE(runProgressDialog(nullptr), kRenderEnded);
    QVERIFY(std::filesystem::is_symlink(dir.file("link.wav")));
    QCOMPARE(readFile(dir.file("target.wav")), (std::vector<std::uint8_t>{1, 2, 3}));
  }

  void refusedInputKeepsAnEarlierOutputFile() {
    TempDir dir;
    WindowPicture picture(8, 8, [](std::uint32_t, std::uint32_t) { return 255; });
    MessageRecorder messages;
    renderSettings.inputSource = InputSource::WaveFile;
    renderSettings.inputPath = dir.file("stereo.wav");
    writeFile(renderSettings.inputPath, waveBytes(std::vector<std::uint8_t>(400, 0), 2, 16, 44100));
    renderSettings.outputPath = dir.file("earlier.wav");
    const std::vector<std::uint8_t> earlier = {'k', 'e', 'e', 'p'};
    writeFile(renderSettings.outputPath, earlier);

    QCOMPARE(runProgressDialog(nullptr), kRenderEnded);
    QCOMPARE(messages.messages().size(), std::size_t{1});
    QVERIFY(fileExists(renderSettings.outputPath));
    QCOMPARE(readFile(renderSettings.outputPath), earlier);
  }

  void renderErrorShowsItsMessageAndRemovesTheFile() {
    TempDir dir;
    MessageRecorder messages;
    // No picture: the render fails with an internal error after the output
    // file has been created.
    renderSettings.durationSeconds = 0.2f;
    renderSettings.outputPath = dir.file("failed.wav");
    QCOMPARE(runProgressDialog(nullptr), kRenderEnded);
    QCOMPARE(messages.messages().size(), std::size_t{1});
    QVERIFY(messages.messages()[0].text.find("Internal error #06") != std::string::npos);
    QCOMPARE(messages.messages()[0].caption, errorCaption());
    QVERIFY(!fileExists(renderSettings.outputPath));
  }

  void outputThatCannotBeCreatedLeavesNothing() {
    TempDir dir;
    WindowPicture picture(8, 8, [](std::uint32_t, std::uint32_t) { return 255; });
    MessageRecorder messages;
    renderSettings.durationSeconds = 0.2f;
    renderSettings.outputPath = dir.file("no/such/dir/out.wav");
    QCOMPARE(runProgressDialog(nullptr), kRenderEnded);
    QCOMPARE(messages.messages().size(), std::size_t{1});
    QVERIFY(messages.messages()[0].text.find("Cannot create output wave file") != std::string::npos);
  }

  void waveRenderThenNoiseRenderStartsWithoutInput() {
    TempDir dir;
    WindowPicture picture(4, 4, [](std::uint32_t, std::uint32_t) { return 255; });
    MessageRecorder messages;
    renderSettings.inputSource = InputSource::WaveFile;
    renderSettings.inputPath = dir.file("in.wav");
    writeFile(renderSettings.inputPath, waveBytes(pcm16Bytes(speechLike(8820, 8000)), 1, 16, 44100));
    renderSettings.outputPath = dir.file("a.wav");
    QCOMPARE(runProgressDialog(nullptr), kRenderCompleted);
    QCOMPARE(waveSamples(renderSettings.outputPath).size(), std::size_t{8820});

    renderSettings.inputSource = InputSource::PinkNoise;
    renderSettings.durationSeconds = 0.1f;
    renderSettings.outputPath = dir.file("b.wav");
    QDialog owner;
    PreparedRender prepared;
    QVERIFY(prepareRenderJob(prepared, &owner));
    QVERIFY(prepared.job.input == nullptr);
    QVERIFY(prepared.job.output != nullptr);
    QCOMPARE(prepared.job.sampleCount, std::uint32_t{4410});
    QCOMPARE(prepared.job.abort, &abortRequested);
    Refusal refusal;
    QCOMPARE(finishRender(prepared, kResultAborted, refusal), kResultAborted);
    QVERIFY(!fileExists(renderSettings.outputPath));
    QVERIFY(messages.messages().empty());
  }
};

QTEST_MAIN(ProgressDialogTest)
#include "progress_dialog_test.moc"
