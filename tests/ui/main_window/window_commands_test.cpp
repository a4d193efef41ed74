// SPDX-License-Identifier: GPL-3.0-or-later
// The main window's settings controls and commands, driven through the real
// widgets with real pictures and wave files.
#include <QApplication>
#include <QAction>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QElapsedTimer>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QSlider>
#include <QSpinBox>
#include <QTest>
#include <filesystem>
#include <memory>

#include "engine/settings.h"
#include "files/messages.h"
#include "support/test_support.h"
#include "support/window_support.h"
#include "ui/main_window/main_window.h"
#include "ui/axes/preview_frame.h"
#include "ui/main_window/settings_controls.h"
#include "ui/main_window/window_commands.h"

using namespace vellomar;
using namespace vellomar::test;

namespace {

// A grey PNG of the given size, top half white.
std::string writePicture(const TempDir& dir, const std::string& name, int width, int height) {
  QImage image(width, height, QImage::Format_RGB32);
  image.fill(Qt::black);
  for (int y = 0; y < height / 2 + 1; ++y) {
    for (int x = 0; x < width; ++x) image.setPixel(x, y, qRgb(255, 255, 255));
  }
  const std::string path = dir.file(name);
  image.save(QString::fromStdString(path), "PNG");
  return path;
}

}  // namespace

class WindowCommandsTest : public QObject {
  Q_OBJECT

  std::unique_ptr<MainWindow> window_;
  std::unique_ptr<MessageRecorder> messages_;
  std::vector<FileRequest> requests_;
  std::vector<std::optional<QString>> answers_;  // what the file dialogs answer, in order
  std::vector<QString> played_;
  int beeps_ = 0;

  const MainWindowControls& c() const { return window_->controls(); }

  // Gives the focus to `widget` and takes it away again, as the user does
  // when leaving a field.
  void leave(QWidget* widget) {
    widget->setFocus();
    QVERIFY(widget->hasFocus());
    c().exitButton->setFocus();
    QVERIFY(!widget->hasFocus());
  }
  void type(QLineEdit* edit, const QString& text) {
    edit->setFocus();
    edit->selectAll();
    edit->setText(text);
    c().exitButton->setFocus();
  }
  void choose(QComboBox* list, const QString& text) {
    const int index = list->findText(text);
    QVERIFY(index >= 0);
    list->setCurrentIndex(index);
    emit list->activated(index);
  }
  // Opens `widget`'s context menu as a right click does, runs `whileOpen`
  // with the menu up and closes the menu again.
  void withContextMenu(QWidget* widget, const std::function<void()>& whileOpen) {
    const QPoint at(4, 4);
    QContextMenuEvent event(QContextMenuEvent::Mouse, at, widget->mapToGlobal(at));
    QApplication::sendEvent(widget, &event);
    QWidget* menu = QApplication::activePopupWidget();
    QVERIFY(menu != nullptr);
    whileOpen();
    menu->close();
    QVERIFY(widget->hasFocus());
  }
  void loadPicture(const std::string& path) {
    answers_.push_back(QString::fromStdString(path));
    c().loadPictureButton->click();
  }

 private slots:
  void init() {
    resetWindowState();
    messages_ = std::make_unique<MessageRecorder>();
    requests_.clear();
    answers_.clear();
    played_.clear();
    beeps_ = 0;
    setFileChooser([this](const FileRequest& request) -> std::optional<QString> {
      requests_.push_back(request);
      if (answers_.empty()) return std::nullopt;
      const QString answer = answers_.front().value_or(QString());
      answers_.erase(answers_.begin());
      if (answer.isEmpty()) return std::nullopt;
      return answer;
    });
    setSoundPlayer([this](const QString& path) { played_.push_back(path); });
    setDefaultSound([this] { ++beeps_; });
    window_ = std::make_unique<MainWindow>();
    window_->show();
    QApplication::setActiveWindow(window_.get());
    QVERIFY(QTest::qWaitForWindowActive(window_.get()));
  }

  void cleanup() {
    window_.reset();
    setFileChooser(nullptr);
    setSoundPlayer(nullptr);
    setDefaultSound(nullptr);
    messages_.reset();
    resetWindowState();
  }

  void startsWithTheDefaults() {
    QVERIFY(c().pinkNoiseRadio->isChecked());
    QVERIFY(!c().whiteNoiseRadio->isChecked());
    QCOMPARE(c().durationEdit->text(), QString("15"));
    QVERIFY(c().durationEdit->isVisible());
    QVERIFY(!c().inputPathEdit->isVisible());
    QCOMPARE(c().inputPathEdit->text(), QString("[Not selected]"));
    QCOMPARE(c().outputPathEdit->text(), QString("[Not selected]"));
    QVERIFY(!c().generateButton->isEnabled());
    QVERIFY(!c().playButton->isEnabled());
    QVERIFY(!c().timePerLineLabel->isVisible());
    QCOMPARE(c().scaleList->count(), 3);
    QCOMPARE(c().scaleList->currentText(), QString("Mel (perceptual)"));
    QCOMPARE(c().freqGranularityList->currentText(), QString("5.4 Hz"));
    QCOMPARE(c().timeGranularityList->currentText(), QString("0.046 sec"));
    QCOMPARE(c().gainEdit->text(), QString("6"));
    QCOMPARE(c().gainSlider->value(), 6);
    QCOMPARE(c().rangeEdit->text(), QString("60"));
    QVERIFY(!c().rangeUpDown->isEnabled());
    QVERIFY(c().linRadio->isChecked());
    QVERIFY(messages_->messages().empty());
  }

  void granularityChoicesKeepBothListsInStep() {
    choose(c().timeGranularityList, "0.37 sec");
    QCOMPARE(renderSettings.blockLength, 16384);
    QCOMPARE(renderSettings.subBlocksPerBlock, 1);
    QCOMPARE(c().freqGranularityList->currentText(), QString("2.7 Hz"));

    choose(c().freqGranularityList, "22 Hz");
    QCOMPARE(renderSettings.blockLength, 2048);
    QCOMPARE(renderSettings.subBlocksPerBlock, 1);
    QCOMPARE(c().timeGranularityList->currentText(), QString("0.046 sec"));

    choose(c().timeGranularityList, "0.012 sec");
    QCOMPARE(renderSettings.blockLength, 2048);
    QCOMPARE(renderSettings.subBlocksPerBlock, 4);

    choose(c().freqGranularityList, "1.35 Hz");
    QCOMPARE(renderSettings.blockLength, 32768);
    QCOMPARE(renderSettings.subBlocksPerBlock, 16);
    QCOMPARE(c().timeGranularityList->currentText(), QString("0.046 sec"));

    choose(c().timeGranularityList, "0.012 sec");
    QCOMPARE(renderSettings.blockLength, 8192);
    QCOMPARE(renderSettings.subBlocksPerBlock, 16);
    QCOMPARE(c().freqGranularityList->currentText(), QString("5.4 Hz"));
    QVERIFY(messages_->messages().empty());
  }

  void fromTheDefaultsAFineTimeKeepsTheBlock() {
    choose(c().timeGranularityList, "0.012 sec");
    QCOMPARE(renderSettings.blockLength, 8192);
    QCOMPARE(renderSettings.subBlocksPerBlock, 16);
    QCOMPARE(c().freqGranularityList->currentText(), QString("5.4 Hz"));
  }

  void scaleListSetsTheScale() {
    choose(c().scaleList, "Linear");
    QCOMPARE(renderSettings.frequencyScale, FrequencyScale::Linear);
    choose(c().scaleList, "Logarithmic");
    QCOMPARE(renderSettings.frequencyScale, FrequencyScale::Logarithmic);
  }

  void rangeFieldRoundsAndClamps() {
    c().logRadio->click();
    QVERIFY(renderSettings.logBrightness);
    QVERIFY(c().rangeUpDown->isEnabled());
    const std::pair<const char*, int> cases[] = {{"14", 20},   {"15", 20},   {"64", 60}, {"65", 70},
                                                 {"124", 120}, {"125", 120}, {"", 20}};
    for (const auto& [text, expected] : cases) {
      type(c().rangeEdit, text);
      QCOMPARE(renderSettings.logRangeDb, expected);
      QCOMPARE(c().rangeEdit->text(), QString::number(expected));
    }
    // Typed as a user types: any digits, then Enter or leaving the field.
    c().rangeEdit->setFocus();
    c().rangeEdit->selectAll();
    QTest::keyClicks(c().rangeEdit, "125");
    QCOMPARE(c().rangeEdit->text(), QString("125"));
    QTest::keyClick(c().rangeEdit, Qt::Key_Return);
    QCOMPARE(renderSettings.logRangeDb, 120);
    QCOMPARE(c().rangeEdit->text(), QString("120"));
    c().rangeEdit->setFocus();
    c().rangeEdit->selectAll();
    QTest::keyClicks(c().rangeEdit, "14");
    c().exitButton->setFocus();
    QCOMPARE(renderSettings.logRangeDb, 20);
    QCOMPARE(c().rangeEdit->text(), QString("20"));
    // Arrows step by 10 and stop at the ends.
    c().rangeUpDown->stepUp();
    QCOMPARE(renderSettings.logRangeDb, 30);
    for (int i = 0; i < 20; ++i) c().rangeUpDown->stepUp();
    QCOMPARE(renderSettings.logRangeDb, 120);
    QCOMPARE(c().rangeEdit->text(), QString("120"));

    c().linRadio->click();
    QVERIFY(!renderSettings.logBrightness);
    QVERIFY(!c().rangeUpDown->isEnabled());
  }

  void gainFieldClampsAndMovesTheSlider() {
    type(c().gainEdit, "60");
    QCOMPARE(renderSettings.masterGainDb, 48);
    QCOMPARE(c().gainEdit->text(), QString("48"));
    QCOMPARE(c().gainSlider->value(), 48);
    type(c().gainEdit, "");
    QCOMPARE(renderSettings.masterGainDb, 0);
    QCOMPARE(c().gainEdit->text(), QString(""));
    QCOMPARE(c().gainSlider->value(), 0);
    c().gainSlider->setValue(20);
    QCOMPARE(renderSettings.masterGainDb, 20);
    QCOMPARE(c().gainEdit->text(), QString("20"));
  }

  void durationFieldAcceptsRefusesAndBeeps() {
    type(c().durationEdit, "1,5");
    QCOMPARE(renderSettings.durationSeconds, 1.5f);
    QCOMPARE(c().durationEdit->text(), QString("1.5"));
    type(c().durationEdit, "0");
    QCOMPARE(renderSettings.durationSeconds, 0.02f);
    QCOMPARE(c().durationEdit->text(), QString("0.02"));
    type(c().durationEdit, "");
    QCOMPARE(c().durationEdit->text(), QString("0.02"));
    QCOMPARE(beeps_, 0);
    type(c().durationEdit, "1e3");
    QCOMPARE(renderSettings.durationSeconds, 1000.0f);
    for (const char* bad : {"2x", "-1", "2000000"}) {
      type(c().durationEdit, bad);
      QCOMPARE(renderSettings.durationSeconds, 1000.0f);
      QCOMPARE(c().durationEdit->text(), QString("1000"));
    }
    QCOMPARE(beeps_, 3);
    type(c().durationEdit, "1000000");
    QCOMPARE(renderSettings.durationSeconds, 1000000.0f);
    QCOMPARE(beeps_, 3);
  }

  void aFieldIsLeftOnlyWhenTheFocusMovesOn() {
    // A duration being typed stays as typed while the field's context menu
    // is up, and while another window is in front: no beep, no revert.
    QLineEdit* duration = c().durationEdit;
    duration->setFocus();
    duration->setText("2x");
    withContextMenu(duration, [&] {
      QCOMPARE(duration->text(), QString("2x"));
      QCOMPARE(beeps_, 0);
    });
    QWidget other;
    other.show();
    QApplication::setActiveWindow(&other);
    QVERIFY(QTest::qWaitForWindowActive(&other));
    QApplication::setActiveWindow(window_.get());
    QVERIFY(QTest::qWaitForWindowActive(window_.get()));
    QVERIFY(duration->hasFocus());
    QCOMPARE(duration->text(), QString("2x"));
    QCOMPARE(beeps_, 0);
    QCOMPARE(renderSettings.durationSeconds, 15.0f);
    // Moving on takes the value: here it is refused.
    c().exitButton->setFocus();
    QCOMPARE(beeps_, 1);
    QCOMPARE(duration->text(), QString("15"));
    duration->setFocus();
    duration->setText("4");
    withContextMenu(duration, [] {});
    QCOMPARE(renderSettings.durationSeconds, 15.0f);
    QTest::keyClick(duration, Qt::Key_Tab);
    QCOMPARE(renderSettings.durationSeconds, 4.0f);

    // An empty output field does not turn into "[Not selected]" under its
    // menu, and what is typed there survives the menu.
    QLineEdit* output = c().outputPathEdit;
    output->setFocus();
    QCOMPARE(output->text(), QString(""));
    withContextMenu(output, [&] { QCOMPARE(output->text(), QString("")); });
    QCOMPARE(output->text(), QString(""));
    output->setText("mine.wav");
    withContextMenu(output, [&] { QVERIFY(renderSettings.outputPath.empty()); });
    QCOMPARE(output->text(), QString("mine.wav"));
    QVERIFY(output->hasFocus());
    c().exitButton->setFocus();
    // Taken from the working folder, as nothing has been chosen yet.
    QCOMPARE(renderSettings.outputPath, (std::filesystem::current_path() / "mine.wav").string());
    QVERIFY(beeps_ == 1 && messages_->messages().empty());
  }

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

  void timePerLineFollowsPictureAndDuration() {
    TempDir dir;
    loadPicture(writePicture(dir, "tall.png", 20, 300));
    QVERIFY(c().timePerLineLabel->isVisible());
    QCOMPARE(c().timePerLineLabel->text(), QString("Time per picture line is 0.050 sec"));
    loadPicture(writePicture(dir, "mid.png", 20, 30));
    QCOMPARE(c().timePerLineLabel->text(), QString("Time per picture line is 0.50 sec"));
    loadPicture(writePicture(dir, "low.png", 20, 5));
    QCOMPARE(c().timePerLineLabel->text(), QString("Time per picture line is 3.0 sec"));
    type(c().durationEdit, "1");
    QCOMPARE(c().timePerLineLabel->text(), QString("Time per picture line is 0.20 sec"));
    // A wave source without a usable file hides it.
    c().waveFileRadio->click();
    QVERIFY(!c().timePerLineLabel->isVisible());
    QVERIFY(c().inputPathEdit->isVisible());
    QVERIFY(!c().durationEdit->isVisible());
    QVERIFY(messages_->messages().empty());
  }

  // Every change of a setting or a file brings everything that depends on
  // them up to date: here an input file rewritten with a longer sound shows
  // on the read-out and the time axis at the next change of any kind.
  void anyChangeRefreshesWhatDependsOnTheSettings() {
    TempDir dir;
    loadPicture(writePicture(dir, "ten.png", 20, 10));
    const std::string input = dir.file("in.wav");
    writeFile(input, waveBytes(pcm16Bytes(speechLike(44100, 8000)), 1, 16, 44100));
    c().waveFileRadio->click();
    type(c().inputPathEdit, QString::fromStdString(input));
    QCOMPARE(c().timePerLineLabel->text(), QString("Time per picture line is 0.100 sec"));
    const QImage oneSecond = c().timeAxisStrip->pixmap().toImage();

    writeFile(input, waveBytes(pcm16Bytes(speechLike(3 * 44100, 8000)), 1, 16, 44100));
    c().gainSlider->setValue(12);
    QCOMPARE(inputWaveDuration, 3.0f);
    QCOMPARE(c().timePerLineLabel->text(), QString("Time per picture line is 0.30 sec"));
    QVERIFY(c().timeAxisStrip->pixmap().toImage() != oneSecond);
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

  // The longest path is counted in the bytes the file system takes, and a
  // longer one is refused with the same message whether it is chosen,
  // dropped or typed: a path cut short would name another file.
  void aTooLongPathIsRefusedHoweverItArrives() {
    TempDir dir;
    // 498 and 500 bytes, with two-byte letters, so that letters and bytes
    // differ in number.
    auto pathOf = [&](std::size_t bytes) {
      std::string path = dir.path() + "/";
      while (path.size() + 2 <= bytes - 4) path += "\xC3\xBC";
      while (path.size() < bytes - 4) path += "a";
      return path + ".wav";
    };
    const std::string fits = pathOf(499);
    const std::string tooLong = pathOf(500);
    QCOMPARE(fits.size(), std::size_t{499});
    QCOMPARE(tooLong.size(), std::size_t{500});
    QVERIFY(QString::fromUtf8(tooLong.c_str()).size() < 499);
    const std::string message = "The path of the chosen file is too long (at most 499 characters): '" + tooLong + "'";

    answers_.push_back(QString::fromUtf8(tooLong.c_str()));
    c().outputBrowseButton->click();
    QCOMPARE(messages_->messages().size(), std::size_t{1});
    QCOMPARE(messages_->messages()[0].text, message);
    QVERIFY(renderSettings.outputPath.empty());

    QVERIFY(!dropFiles(*window_, {QUrl::fromLocalFile(QString::fromUtf8(tooLong.c_str()))}));
    QCOMPARE(messages_->messages().size(), std::size_t{2});
    QCOMPARE(messages_->messages()[1].text, message);
    QVERIFY(renderSettings.inputPath.empty());

    type(c().outputPathEdit, QString::fromUtf8(tooLong.c_str()));
    QCOMPARE(messages_->messages().size(), std::size_t{3});
    QCOMPARE(messages_->messages()[2].text, message);
    QVERIFY(renderSettings.outputPath.empty());
    QCOMPARE(c().outputPathEdit->text(), QString("[Not selected]"));

    // One byte less is taken every way.
    type(c().outputPathEdit, QString::fromUtf8(fits.c_str()));
    QCOMPARE(renderSettings.outputPath, fits);
    answers_.push_back(QString::fromUtf8(fits.c_str()));
    c().outputBrowseButton->click();
    QCOMPARE(renderSettings.outputPath, fits);
    QCOMPARE(messages_->messages().size(), std::size_t{3});
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

  void enterInAFieldAppliesItWithoutRendering() {
    TempDir dir;
    loadPicture(writePicture(dir, "p.png", 8, 100));
    renderSettings.outputPath = dir.file("out.wav");
    c().durationEdit->setFocus();
    c().durationEdit->selectAll();
    QTest::keyClicks(c().durationEdit, "3");
    QTest::keyClick(c().durationEdit, Qt::Key_Return);
    QCOMPARE(renderSettings.durationSeconds, 3.0f);
    QVERIFY(c().generateButton->hasFocus());
    QVERIFY(!fileExists(renderSettings.outputPath));
    QVERIFY(messages_->messages().empty());

    // Without a picture, Enter leads to "Load picture".
    window_.reset();
    resetWindowState();
    window_ = std::make_unique<MainWindow>();
    window_->show();
    QApplication::setActiveWindow(window_.get());
    QVERIFY(QTest::qWaitForWindowActive(window_.get()));
    c().gainEdit->setFocus();
    QTest::keyClicks(c().gainEdit, "0");
    QTest::keyClick(c().gainEdit, Qt::Key_Enter);
    QVERIFY(c().loadPictureButton->hasFocus());
    QCOMPARE(renderSettings.masterGainDb, 48);
  }

  void sameInputAndOutputAreRefused() {
    TempDir dir;
    loadPicture(writePicture(dir, "p.png", 8, 1000));
    const std::string input = dir.file("Input.wav");
    writeFile(input, waveBytes(pcm16Bytes(speechLike(4410, 8000)), 1, 16, 44100));
    c().waveFileRadio->click();
    type(c().inputPathEdit, QString::fromStdString(input));
    QVERIFY(inputWaveDuration > 0.0f);

    const std::string spellings[] = {dir.file("INPUT.WAV"), dir.path() + "/./Input.wav", dir.file("link.wav")};
    std::filesystem::create_symlink(input, dir.file("link.wav"));
    for (const std::string& output : spellings) {
      messages_->clear();
      type(c().outputPathEdit, QString::fromStdString(output));
      c().generateButton->click();
      QCOMPARE(messages_->messages().size(), std::size_t{1});
      QCOMPARE(messages_->messages()[0].caption, std::string("File conflict"));
      QCOMPARE(messages_->messages()[0].text, std::string("Input and output wave cannot be the same "
                                                          "file.\nPlease change your selection."));
    }
    QCOMPARE(readFile(input), waveBytes(pcm16Bytes(speechLike(4410, 8000)), 1, 16, 44100));
  }

  void placeholderTypedCountsAsNoFile() {
    type(c().outputPathEdit, "somewhere.wav");
    QCOMPARE(renderSettings.outputPath, (std::filesystem::current_path() / "somewhere.wav").string());
    type(c().outputPathEdit, "[Not selected]");
    QVERIFY(renderSettings.outputPath.empty());
    type(c().outputPathEdit, "");
    QVERIFY(renderSettings.outputPath.empty());
    QCOMPARE(c().outputPathEdit->text(), QString("[Not selected]"));
    // Entering an empty field clears the placeholder for typing.
    c().outputPathEdit->setFocus();
    QCOMPARE(c().outputPathEdit->text(), QString(""));
    c().exitButton->setFocus();
    c().waveFileRadio->click();
    type(c().inputPathEdit, "[Not selected]");
    QVERIFY(renderSettings.inputPath.empty());
    QCOMPARE(inputWaveDuration, 0.0f);
  }

  void typedNamesAreTakenFromTheFolderLastChosenIn() {
    TempDir dir;
    loadPicture(writePicture(dir, "here.png", 16, 30));
    QVERIFY(messages_->messages().empty());
    // A bare name: in the picture's folder, with the output format's
    // extension, and the field shows what it stands for.
    type(c().outputPathEdit, "mine");
    QCOMPARE(renderSettings.outputPath, dir.file("mine.wav"));
    QCOMPARE(c().outputPathEdit->text(), QString::fromStdString(dir.file("mine.wav")));
    fileOptions.output.kind = OutputKind::Flac16;
    type(c().outputPathEdit, "sub/../other");
    QCOMPARE(renderSettings.outputPath, dir.file("other.flac"));
    type(c().outputPathEdit, "keep.wav");
    QCOMPARE(renderSettings.outputPath, dir.file("keep.wav"));
    // An input name gets no extension.
    const std::string input = dir.file("in.wav");
    writeFile(input, waveBytes(pcm16Bytes(speechLike(4410, 8000)), 1, 16, 44100));
    c().waveFileRadio->click();
    type(c().inputPathEdit, "in.wav");
    QCOMPARE(renderSettings.inputPath, input);
    QVERIFY(inputWaveDuration > 0.0f);
    QVERIFY(messages_->messages().empty());
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

  void impossibleSettingsRaiseTheirInternalErrors() {
    window_.reset();
    renderSettings.frequencyScale = static_cast<FrequencyScale>(7);
    renderSettings.blockLength = 1000;  // matches no frequency entry
    renderSettings.subBlocksPerBlock = 3;
    window_ = std::make_unique<MainWindow>();
    std::vector<std::string> texts;
    for (const ShownMessage& m : messages_->messages()) texts.push_back(m.text.substr(0, 18));
    QCOMPARE(texts, (std::vector<std::string>{"Internal error #01", "Internal error #02", "Internal error #02"}));
    QCOMPARE(c().scaleList->currentIndex(), -1);

    // A block length of 0 cannot be given sub-blocks.
    messages_->clear();
    renderSettings.blockLength = 0;
    deriveSubBlocks(*window_, true);
    QCOMPARE(messages_->messages().size(), std::size_t{1});
    QVERIFY(messages_->messages()[0].text.find("Internal error #04") == 0);
  }

  void closingTheWindowWhileEditingIsSafe() {
    for (int i = 0; i < 5; ++i) {
      QLineEdit* const edits[] = {c().durationEdit, c().gainEdit, c().rangeEdit, c().inputPathEdit, c().outputPathEdit};
      QLineEdit* edit = edits[i];
      c().rangeUpDown->setEnabled(true);
      edit->setEnabled(true);
      edit->setVisible(true);
      edit->setFocus();
      edit->setText("7");
      window_.reset();
      window_ = std::make_unique<MainWindow>();
      window_->show();
      QApplication::setActiveWindow(window_.get());
      QVERIFY(QTest::qWaitForWindowActive(window_.get()));
    }
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
