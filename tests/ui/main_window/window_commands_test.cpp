// SPDX-License-Identifier: GPL-3.0-or-later
// The main window's commands (load a picture, generate, play, the
// shortcuts and dropped files), driven through the real widgets with real
// pictures and wave files.
#include "ui/main_window/window_commands.h"

#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTest>
#include <QUrl>
#include <memory>

#include "engine/settings.h"
#include "files/messages.h"
#include "support/test_support.h"
#include "ui/axes/preview_frame.h"
#include "ui/main_window/main_window.h"
#include "window_commands_support.h"

using namespace vellomar;
using namespace vellomar::test;

class WindowCommandsTest : public QObject, public WindowCommandsFixture {
  Q_OBJECT

 private slots:
  void init() { openWindow(); }
  void cleanup() { closeWindow(); }

  void shortcutsPressTheirButtons() {
    TempDir dir;
    const std::string picture = writePicture(dir, "keys.png", 16, 30);
    const auto press = [this](Qt::Key key) { QTest::keyClick(window_.get(), key, Qt::ControlModifier); };

    // Ctrl+G and Ctrl+P do nothing while their buttons are disabled.
    press(Qt::Key_G);
    press(Qt::Key_P);
    QVERIFY(messages_->messages().empty());
    QVERIFY(requests_.empty() && played_.empty());

    answers_.push_back(QString::fromStdString(picture));
    press(Qt::Key_O);
    QCOMPARE(requests_.size(), std::size_t{1});
    QCOMPARE(requests_[0].title, QString("Choose a picture"));
    QVERIFY(c().generateButton->isEnabled());

    // Ctrl+G, like a click, takes the focus first: a duration being typed
    // is applied before the render starts.
    renderSettings.outputPath = dir.file("keys.wav");
    c().outputPathEdit->setText(QString::fromStdString(renderSettings.outputPath));
    c().durationEdit->setFocus();
    c().durationEdit->setText("0,25");
    press(Qt::Key_G);
    QCOMPARE(renderSettings.durationSeconds, 0.25f);
    QCOMPARE(waveSamples(renderSettings.outputPath).size(), std::size_t{11025});
    QVERIFY(c().playButton->isEnabled());

    QApplication::setActiveWindow(window_.get());
    QVERIFY(QTest::qWaitForWindowActive(window_.get()));
    press(Qt::Key_P);
    QCOMPARE(played_.size(), std::size_t{1});
    QCOMPARE(played_[0], QString::fromStdString(renderSettings.outputPath));

    QSignalSpy finished(window_.get(), &QDialog::finished);
    press(Qt::Key_Q);
    QCOMPARE(finished.count(), 1);
    QCOMPARE(finished.first().first().toInt(), 1);
    QVERIFY(messages_->messages().empty());
  }

  void loadingAPictureEnablesGenerateAndAFailureKeepsIt() {
    TempDir dir;
    const std::string good = writePicture(dir, "good.png", 16, 16);
    loadPicture(good);
    QCOMPARE(requests_.size(), std::size_t{1});
    QCOMPARE(requests_[0].title, QString("Choose a picture"));
    QVERIFY(!requests_[0].forSaving);
    QCOMPARE(requests_[0].defaultExtension, QString("bmp"));
    QVERIFY(requests_[0].filters[0].startsWith("Bitmap images (*.bmp;*.png;*.jpg;*.jpeg;*.gif;*.tif;*.tiff)"));
    QVERIFY(requests_[0].filters[1].startsWith("All files(*.*)"));
    QVERIFY(c().generateButton->isEnabled());
    QVERIFY(c().generateButton->hasFocus());
    const auto shown = c().previewFrame->picture();
    QVERIFY(shown != nullptr);

    const std::string bad = dir.file("bad.png");
    writeFile(bad, {'n', 'o', 't', ' ', 'a', ' ', 'p', 'n', 'g'});
    loadPicture(bad);
    QCOMPARE(messages_->messages().size(), std::size_t{1});
    QCOMPARE(messages_->messages()[0].caption, errorCaption());
    QCOMPARE(messages_->messages()[0].text,
             "Failed to load picture '" + bad +
                 "'\nIt is not a picture of a kind read here: only BMP, PNG, JPEG, GIF and TIFF pictures are read.");
    QVERIFY(c().generateButton->isEnabled());
    QCOMPARE(c().previewFrame->picture(), shown);
    QCOMPARE(pictureData.height, std::uint32_t{16});

    // Cancelling the chooser changes nothing.
    c().loadPictureButton->click();
    QCOMPARE(messages_->messages().size(), std::size_t{1});

    // The chooser opens where the last picture was chosen, this run only.
    QVERIFY(requests_[0].initialFolder.isEmpty());
    QCOMPARE(requests_.back().initialFolder, QString::fromStdString(dir.path()));
    QVERIFY(requests_.back().initialPath.isEmpty());

    // A picture too big for any render says why, after the usual words.
    const std::string huge = dir.file("huge.bmp");
    QImage strip(16777221, 1, QImage::Format_Grayscale8);
    strip.fill(200);
    QVERIFY(strip.save(QString::fromStdString(huge), "BMP"));
    strip = QImage();
    loadPicture(huge);
    QCOMPARE(messages_->messages().back().text,
             "Failed to load picture '" + huge +
                 "'\nThe picture is 16777221 x 1 pixels; a side of at most 16777216 pixels can be rendered.");
  }

  void generateWithoutPictureSaysSo() {
    c().generateButton->setEnabled(true);
    c().generateButton->click();
    QCOMPARE(messages_->messages().size(), std::size_t{1});
    QCOMPARE(messages_->messages()[0].caption, std::string("Missing picture"));
    QCOMPARE(messages_->messages()[0].text, std::string("You must load a picture before generating sound."));
    QVERIFY(requests_.empty());
  }

  void warningQuestionAnsweredNoStartsNothing() {
    TempDir dir;
    loadPicture(writePicture(dir, "ten.png", 8, 10));
    renderSettings.outputPath = dir.file("out.wav");
    messages_->answerQuestionsWith(kButtonNo);
    c().generateButton->click();
    QCOMPARE(messages_->messages().size(), std::size_t{1});
    QCOMPARE(messages_->messages()[0].caption, std::string("Warning"));
    QCOMPARE(messages_->messages()[0].boxType, kBoxYesNo | kBoxIconWarning);
    QVERIFY(messages_->messages()[0].text.find("0.046 sec while the time per picture line is 1.50 sec") !=
            std::string::npos);
    QVERIFY(!fileExists(renderSettings.outputPath));

    // A 1-row picture with 0.74 s hops asks nothing.
    loadPicture(writePicture(dir, "one.png", 8, 1));
    choose(c().timeGranularityList, "0.74 sec");
    QVERIFY(confirmTimeGranularity(*window_));
    QCOMPARE(messages_->messages().size(), std::size_t{1});
  }

  // A noise too long for a wave file is refused before the question about
  // its time granularity, and the refusal tells the limit in time.
  void aTooLongNoiseIsRefusedBeforeAnyQuestion() {
    TempDir dir;
    loadPicture(writePicture(dir, "two.png", 8, 2));
    renderSettings.outputPath = dir.file("out.wav");
    type(c().durationEdit, "100000");
    c().generateButton->click();
    QCOMPARE(messages_->messages().size(), std::size_t{1});
    QCOMPARE(messages_->messages()[0].text,
             std::string("The sound would be too long for a wave file: 4410000000 samples, at most 2147483629, which "
                         "is 48695.7 seconds (13:31:35)."));
    QVERIFY(!fileExists(renderSettings.outputPath));
  }

  void waveSourceWithoutInputAsksForOneFirst() {
    TempDir dir;
    loadPicture(writePicture(dir, "p.png", 8, 1000));
    c().waveFileRadio->click();
    c().generateButton->click();  // the chooser is cancelled
    QCOMPARE(requests_.size(), std::size_t{2});
    QCOMPARE(requests_[1].title, QString("Select input wave file"));
    QCOMPARE(requests_[1].filters, QStringList({"Microsoft Wave (*.wav) (*.wav)", "All files (*.*) (*)"}));
    QVERIFY(requests_[1].defaultExtension.isEmpty());
    QVERIFY(messages_->messages().empty());
  }

  void fullRenderThenPlay() {
    TempDir dir;
    loadPicture(writePicture(dir, "p.png", 32, 40));
    type(c().durationEdit, "0,5");
    answers_.push_back(QString::fromStdString(dir.file("render.wav")));
    c().generateButton->click();
    // The output chooser came first, then the render ran to the end.
    QCOMPARE(requests_.back().title, QString("Select output wave file"));
    QVERIFY(requests_.back().forSaving);
    QCOMPARE(requests_.back().defaultExtension, QString("wav"));
    QVERIFY(messages_->messages().empty());
    QCOMPARE(c().outputPathEdit->text(), QString::fromStdString(dir.file("render.wav")));
    QVERIFY(c().playButton->isEnabled());
    QCOMPARE(window_->focusWidget(), c().playButton);
    const std::vector<std::int16_t> samples = waveSamples(dir.file("render.wav"));
    QCOMPARE(samples.size(), std::size_t{22050});
    // Top half of the picture white, bottom half black: the sound fades out.
    const std::vector<std::int16_t> first(samples.begin(), samples.begin() + 8000);
    const std::vector<std::int16_t> last(samples.end() - 8000, samples.end());
    QVERIFY(bandEnergy(first, 0, 22050) > 100 * (bandEnergy(last, 0, 22050) + 1));

    c().playButton->click();
    c().playButton->click();
    QCOMPARE(played_.size(), std::size_t{2});
    QCOMPARE(played_[0], QString::fromStdString(dir.file("render.wav")));

    // A new output name disables playing until the next render.
    QApplication::setActiveWindow(window_.get());
    QVERIFY(QTest::qWaitForWindowActive(window_.get()));
    type(c().outputPathEdit, QString::fromStdString(dir.file("other.wav")));
    QVERIFY(!c().playButton->isEnabled());
  }

  void typedOutputNamingAnExistingFileIsReplacedOnlyWhenTheUserAgrees() {
    TempDir dir;
    const std::string picture = writePicture(dir, "p.png", 8, 4);
    loadPicture(picture);
    type(c().durationEdit, "0.1");
    const std::vector<std::uint8_t> pictureBytes = readFile(picture);

    // The picture's own name typed as the output: asked, and No keeps it.
    type(c().outputPathEdit, QString::fromStdString(picture));
    messages_->answerQuestionsWith(kButtonNo);
    c().generateButton->click();
    QCOMPARE(messages_->messages().size(), std::size_t{1});
    QCOMPARE(messages_->messages()[0].caption, std::string("File exists"));
    QCOMPARE(messages_->messages()[0].boxType, kBoxYesNo | kBoxIconWarning | kBoxDefaultButton2);
    QCOMPARE(messages_->messages()[0].text, "The file '" + picture + "' already exists.\nDo you want to replace it?");
    QCOMPARE(readFile(picture), pictureBytes);
    QVERIFY(!c().playButton->isEnabled());

    // An earlier file typed as the output: Yes replaces it with the render,
    // and the next render to it asks no more.
    const std::string earlier = dir.file("earlier.wav");
    writeFile(earlier, {'o', 'l', 'd'});
    type(c().outputPathEdit, QString::fromStdString(earlier));
    messages_->clear();
    messages_->answerQuestionsWith(kButtonYes);
    c().generateButton->click();
    QCOMPARE(messages_->messages().size(), std::size_t{1});
    QCOMPARE(waveSamples(earlier).size(), std::size_t{4410});
    QVERIFY(c().playButton->isEnabled());
    messages_->clear();
    c().generateButton->click();
    QVERIFY(messages_->messages().empty());
    QVERIFY(c().playButton->isEnabled());

    // A file that the save dialog confirmed is not asked about again.
    const std::string chosen = dir.file("chosen.wav");
    writeFile(chosen, {'x'});
    answers_.push_back(QString::fromStdString(chosen));
    c().outputBrowseButton->click();
    c().generateButton->click();
    QVERIFY(messages_->messages().empty());
    QCOMPARE(waveSamples(chosen).size(), std::size_t{4410});
  }

  void playingWithoutAnAudioDeviceReturnsAtOnce() {
    TempDir dir;
    loadPicture(writePicture(dir, "p.png", 8, 1000));
    type(c().durationEdit, "0.1");
    answers_.push_back(QString::fromStdString(dir.file("short.wav")));
    c().generateButton->click();
    QVERIFY(c().playButton->isEnabled());
    // The real player: plays where there is an output, else does nothing.
    setSoundPlayer(nullptr);
    QElapsedTimer timer;
    timer.start();
    c().playButton->click();
    c().playButton->click();
    QVERIFY(timer.elapsed() < 2000);
    QTest::qWait(50);
    QVERIFY(messages_->messages().empty());
  }

  void droppedFilesLoadOrChooseTheInput() {
    TempDir dir;
    const std::string picture = writePicture(dir, "drop.png", 12, 24);
    const std::string wave = dir.file("drop.WAV");
    writeFile(wave, waveBytes(pcm16Bytes(speechLike(44100, 8000)), 1, 16, 44100));

    QVERIFY(dropFiles(*window_, {QUrl::fromLocalFile(QString::fromStdString(picture))}));
    QCOMPARE(pictureData.height, std::uint32_t{24});
    QVERIFY(c().generateButton->isEnabled());

    // Through the window's drop handling, as a drag from a file manager.
    auto* mime = new QMimeData;
    mime->setUrls({QUrl::fromLocalFile(QString::fromStdString(wave))});
    const QPoint at = window_->rect().center();
    QDragEnterEvent enter(at, Qt::CopyAction, mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(window_.get(), &enter);
    QVERIFY(enter.isAccepted());
    QDropEvent drop(QPointF(at), Qt::CopyAction, mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(window_.get(), &drop);
    delete mime;
    QVERIFY(drop.isAccepted());
    QTRY_COMPARE(renderSettings.inputPath, wave);
    QCOMPARE(renderSettings.inputPath, wave);
    QCOMPARE(renderSettings.inputSource, InputSource::WaveFile);
    QVERIFY(c().waveFileRadio->isChecked());
    QCOMPARE(c().inputPathEdit->text(), QString::fromStdString(wave));
    QCOMPARE(inputWaveDuration, 1.0f);
    QCOMPARE(c().timePerLineLabel->text(), QString("Time per picture line is 0.042 sec"));
    QVERIFY(messages_->messages().empty());
  }

  void aDroppedWaveSwitchesTheSourceAndSaysOnceWhyItIsRefused() {
    TempDir dir;
    const std::string stereo = dir.file("stereo.wav");
    writeFile(stereo, waveBytes(pcm16Bytes(speechLike(8820, 8000)), 2, 16, 44100));
    QVERIFY(c().pinkNoiseRadio->isChecked());

    QVERIFY(dropFiles(*window_, {QUrl::fromLocalFile(QString::fromStdString(stereo))}));
    QCOMPARE(renderSettings.inputSource, InputSource::WaveFile);
    QVERIFY(c().waveFileRadio->isChecked());
    QVERIFY(!c().pinkNoiseRadio->isChecked());
    QVERIFY(c().inputPathEdit->isVisible());
    QVERIFY(!c().durationEdit->isVisible());
    QCOMPARE(c().inputPathEdit->text(), QString::fromStdString(stereo));
    QCOMPARE(inputWaveDuration, 0.0f);
    QCOMPARE(messages_->messages().size(), std::size_t{1});
    QCOMPARE(messages_->messages()[0].caption, errorCaption());
    // The program's words, then on a line of their own what the file is
    // and how to read it.
    QCOMPARE(messages_->messages()[0].text,
             std::string("The input wave is stereo (or it has more channels). This is not supported in this version "
                         "of Vellomar.\n") +
                 stereo +
                 ": 44100 Hz, 16-bit, stereo, WAV; the classic reader needs 44100 Hz, 8 or 16-bit, mono WAV "
                 "\xE2\x80\x94 turn on \"Read any audio file\" in Options");

    // The noise source is still one click away, with its duration.
    c().whiteNoiseRadio->click();
    QCOMPARE(renderSettings.inputSource, InputSource::WhiteNoise);
    QVERIFY(c().durationEdit->isVisible());
    QVERIFY(!c().inputPathEdit->isVisible());
  }
};

QTEST_MAIN(WindowCommandsTest)
#include "window_commands_test.moc"
