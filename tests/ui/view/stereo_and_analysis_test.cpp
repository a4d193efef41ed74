// SPDX-License-Identifier: GPL-3.0-or-later
// The window with stereo on shows the picture's channels in colour (the
// preview and the spectrogram window) and saves them; "Picture from wave
// file" asks the picture's size, and a noise render of its picture is as
// long as the wave to the last sample. Through the real window, with real
// files.
#include <QApplication>
#include <QCheckBox>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <cmath>
#include <filesystem>
#include <memory>

#include "engine/settings.h"
#include "files/analysis_setup.h"
#include "files/messages.h"
#include "files/picture.h"
#include "files/picture_preview.h"
#include "support/test_support.h"
#include "support/window_support.h"
#include "ui/axes/preview_frame.h"
#include "ui/document/picture_document.h"
#include "ui/document/picture_planes.h"
#include "ui/main_window/main_window.h"
#include "ui/main_window/settings_controls.h"
#include "ui/main_window/window_commands.h"
#include "ui/view/picture_size_dialog.h"
#include "ui/view/spectrogram_window.h"
#include "ui/view/view_menu.h"

using namespace vellomar;
using namespace vellomar::test;

namespace {

// A colour picture file: colour(x, y) per pixel.
template <typename F>
std::string writeColourPicture(const TempDir& dir, const char* name, int width, int height, F colour) {
  QImage image(width, height, QImage::Format_RGB32);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) image.setPixel(x, y, colour(x, y));
  }
  const std::string path = dir.file(name);
  image.save(QString::fromStdString(path), "PNG");
  return path;
}

// The mean of one colour channel over columns x0 ... x1 - 1 of an image.
double meanChannel(const QImage& image, int x0, int x1, int (*channel)(QRgb)) {
  double sum = 0.0;
  int n = 0;
  for (int y = 0; y < image.height(); ++y) {
    for (int x = x0; x < x1; ++x, ++n) sum += channel(image.pixel(x, y));
  }
  return n > 0 ? sum / n : 0.0;
}

}  // namespace

class StereoAndAnalysisTest : public QObject {
  Q_OBJECT

  std::unique_ptr<MainWindow> window_;
  std::unique_ptr<MessageRecorder> messages_;
  std::vector<QString> answers_;
  std::unique_ptr<TempDir> dir_;

  const MainWindowControls& c() const { return window_->controls(); }
  ViewMenu& view() const { return *viewMenuOf(*window_); }

  void setStereo(bool on) {
    renderSettings.stereo = on;
    refreshAfterChange(*window_);
  }

  // "Picture from wave file" on `wave`, the size dialog answered by `size`.
  void pictureFromWave(const std::string& wave, std::function<void(PictureSizeDialog&)> size) {
    answers_.push_back(QString::fromStdString(wave));
    ModalAnswer answer(QStringLiteral("pictureSizeDialog"),
                       [size](QWidget* dialog) { size(*static_cast<PictureSizeDialog*>(dialog)); });
    view().pictureFromWaveAction()->trigger();
    QVERIFY(answer.answered());
  }

  static void takeDefault(PictureSizeDialog& dialog) { QTest::keyClick(dialog.widthField(), Qt::Key_Return); }

 private slots:
  void init() {
    resetWindowState();
    dir_ = std::make_unique<TempDir>();
    messages_ = std::make_unique<MessageRecorder>();
    answers_.clear();
    setFileChooser([this](const FileRequest&) -> std::optional<QString> {
      if (answers_.empty()) return std::nullopt;
      const QString answer = answers_.front();
      answers_.erase(answers_.begin());
      return answer;
    });
    setSoundPlayer([](const QString&) {});
    window_ = std::make_unique<MainWindow>();
    window_->show();
    QApplication::setActiveWindow(window_.get());
    QVERIFY(QTest::qWaitForWindowActive(window_.get()));
  }

  void cleanup() {
    window_.reset();
    setFileChooser(nullptr);
    setSoundPlayer(nullptr);
    messages_.reset();
    dir_.reset();
    resetWindowState();
  }

  void thePreviewShowsWhatEachChannelHears() {
    // Red on the left, green on the right, blue (heard by neither) below.
    const std::string path = writeColourPicture(*dir_, "rg.png", 20, 10, [](int x, int y) {
      if (y >= 8) return qRgb(0, 0, 255);
      return x < 10 ? qRgb(200, 0, 0) : qRgb(0, 150, 0);
    });
    QVERIFY(loadPictureFile(*window_, path));
    PreviewFrame* preview = c().previewFrame;
    QCOMPARE(preview->image().format(), QImage::Format_Grayscale8);
    QCOMPARE(qGray(preview->image().pixel(0, 0)), int(brightnessOf(200, 0, 0)));

    setStereo(true);
    QCOMPARE(preview->colours(), PreviewColours::Channels);
    QCOMPARE(preview->image().pixel(0, 0), qRgb(200, 0, 0));
    QCOMPARE(preview->image().pixel(19, 0), qRgb(0, 150, 0));
    QCOMPARE(preview->image().pixel(5, 9), qRgb(0, 0, 0));
    // As painted: the left of the frame red, the right green.
    const QImage shot = preview->grab().toImage();
    const QRect inside = preview->interior();
    const qreal ratio = shot.devicePixelRatio();
    const QRgb left = shot.pixel(qRound((inside.left() + inside.width() / 4) * ratio), qRound(inside.top() * ratio + 2));
    const QRgb right = shot.pixel(qRound((inside.left() + 3 * inside.width() / 4) * ratio), qRound(inside.top() * ratio + 2));
    QVERIFY(qRed(left) > 150 && qGreen(left) < 30);
    QVERIFY(qGreen(right) > 100 && qRed(right) < 30);

    // An edit of one row redraws that row in the channels' colours.
    PictureDocument& document = window_->document();
    QVERIFY(document.makeEditable());
    for (std::int64_t x = 0; x < 20; ++x) setColour(document.editablePicture(), x, 3, Rgb{10, 20, 30});
    document.touch(RowSpans(3, 4), PixelRect{0, 3, 20, 4});
    document.publish();
    QCOMPARE(preview->image().pixel(4, 3), qRgb(10, 20, 0));
    QCOMPARE(preview->image().pixel(4, 2), qRgb(200, 0, 0));

    // A grey picture sounds alike on both channels: yellow. Off again: grey.
    QVERIFY(loadPictureFile(*window_, writeColourPicture(*dir_, "g.png", 4, 4, [](int, int) { return qRgb(90, 90, 90); })));
    QCOMPARE(preview->image().pixel(1, 1), qRgb(90, 90, 0));
    setStereo(false);
    QCOMPARE(preview->image().format(), QImage::Format_Grayscale8);
    QCOMPARE(qGray(preview->image().pixel(1, 1)), 90);
  }

  void theSpectrogramOfAStereoRenderShowsBothChannels() {
    const std::string path = writeColourPicture(*dir_, "rg.png", 24, 12, [](int x, int) {
      return x < 12 ? qRgb(230, 0, 0) : qRgb(0, 230, 0);
    });
    QVERIFY(loadPictureFile(*window_, path));
    setStereo(true);
    c().whiteNoiseRadio->click();
    c().durationEdit->setText("3");
    c().durationEdit->setFocus();
    c().loadPictureButton->setFocus();
    answers_.push_back(QString::fromStdString(dir_->file("out.wav")));
    c().generateButton->click();
    QVERIFY(c().playButton->isEnabled());
    messages_->clear();
    view().spectrogramAction()->trigger();
    SpectrogramWindow* w = view().spectrogramWindow();
    QVERIFY(w != nullptr);
    QVERIFY(messages_->messages().empty());

    const QImage picture = w->picturePanel()->image();
    QCOMPARE(picture, picturePreview(*c().previewFrame->picture(), PreviewColours::Channels));
    // The sound's left channel is loud where the picture is red, its right
    // where it is green.
    const QImage sound = w->soundImage();
    QCOMPARE(sound.size(), picture.size());
    QVERIFY(meanChannel(sound, 2, 10, qRed) > 2 * meanChannel(sound, 2, 10, qGreen) + 20);
    QVERIFY(meanChannel(sound, 14, 22, qGreen) > 2 * meanChannel(sound, 14, 22, qRed) + 20);
    QVERIFY(meanChannel(sound, 0, 24, qBlue) == 0.0);

    // The difference compares channel by channel: black where they agree.
    w->differenceToggle()->click();
    const QImage difference = w->soundPanel()->image();
    QCOMPARE(difference, differenceImage(picture, sound));
    QImage same = differenceImage(picture, picture);
    QCOMPARE(qRed(same.pixel(3, 3)) + qGreen(same.pixel(3, 3)) + qBlue(same.pixel(3, 3)), 0);
    // The right channel alone brighter: red at twice the difference.
    QImage brighter = picture.copy();
    const QRgb was = picture.pixel(14, 3);
    brighter.setPixel(14, 3, qRgb(qRed(was), 255, 0));
    QCOMPARE(qRed(differenceImage(picture, brighter).pixel(14, 3)), 2 * (255 - qGreen(was)));
  }

  void aStereoWaveMakesAColourPictureThatIsSavedInColour() {
    // Speech on the left, near silence on the right.
    const std::vector<std::int16_t> left = speechLike(44100, 9000);
    std::vector<std::int16_t> frames;
    for (const std::int16_t s : left) {
      frames.push_back(s);
      frames.push_back(static_cast<std::int16_t>(s / 64));
    }
    const std::string wave = dir_->file("two.wav");
    writeFile(wave, waveBytes(pcm16Bytes(frames), 2, 16, 44100));
    setStereo(true);
    pictureFromWave(wave, takeDefault);
    QVERIFY(messages_->messages().empty());
    const auto picture = c().previewFrame->picture();
    QVERIFY(picture != nullptr && !picture->red.empty());
    const QImage shown = c().previewFrame->image();
    QVERIFY(meanChannel(shown, 0, shown.width() / 4, qRed) > meanChannel(shown, 0, shown.width() / 4, qGreen) + 20);

    const std::string saved = dir_->file("two-saved.png");
    answers_.push_back(QString::fromStdString(saved));
    view().savePictureAction()->trigger();
    QVERIFY(messages_->messages().empty());
    QVERIFY(!QImage(QString::fromStdString(saved)).allGray());
    const auto back = loadPicture(saved);
    QVERIFY(back != nullptr);
    QCOMPARE(back->red, picture->red);
    QCOMPARE(back->green, picture->green);
    QCOMPARE(back->pixels, picture->pixels);
  }

  void theSizeIsOfferedWithTheDefaultAndTheCommandLinesLimits() {
    const std::string wave = dir_->file("speech.wav");
    writeFile(wave, waveBytes(pcm16Bytes(speechLike(44100, 9000)), 1, 16, 44100));
    pictureFromWave(wave, [](PictureSizeDialog& dialog) {
      QCOMPARE(dialog.windowTitle(), QString("Picture size"));
      // Each label leads to its field (Alt+W, Alt+H).
      int buddies = 0;
      for (const QLabel* label : dialog.findChildren<QLabel*>()) {
        if (label->text() == "&Width (frequency):") buddies += label->buddy() == dialog.widthField();
        if (label->text() == "&Height (time):") buddies += label->buddy() == dialog.heightField();
      }
      QCOMPARE(buddies, 2);
      dialog.widthField()->setText("64");
      dialog.heightField()->setText("20");
      dialog.okButton()->click();
    });
    QVERIFY(messages_->messages().empty());
    QCOMPARE(c().previewFrame->picture()->width, 64u);
    QCOMPARE(c().previewFrame->picture()->height, 20u);
    const auto shown = c().previewFrame->picture();

    // Sizes the loader would not read again are refused in the command
    // line's words, the dialog staying open; Cancel then changes nothing.
    const std::string limits = analysisSizeLimits();
    pictureFromWave(wave, [this, &limits](PictureSizeDialog& dialog) {
      const struct {
        const char* width;
        const char* height;
        std::string text;
      } refused[] = {
          {"0", "20", "The size 0 x 20 is not a picture size that can be loaded again (" + limits + ")"},
          {"2000000", "1", "The size 2000000 x 1 is not a picture size that can be loaded again (" + limits + ")"},
          {"64", "", "The width and the height must be whole numbers of pixels (" + limits + ")"},
      };
      for (const auto& r : refused) {
        messages_->clear();
        dialog.widthField()->setText(r.width);
        dialog.heightField()->setText(r.height);
        dialog.okButton()->click();
        QCOMPARE(messages_->only().text, r.text);
        QVERIFY(dialog.isVisible());
      }
      // The field takes digits only.
      dialog.widthField()->setText("12");
      QTest::keyClicks(dialog.widthField(), "-.x");
      QCOMPARE(dialog.widthField()->text(), QString("12"));
      dialog.defaultButton()->click();
      QCOMPARE(dialog.widthField()->text(), QString("512"));
      QCOMPARE(dialog.heightField()->text(), QString("22"));  // 1 s of 2048-sample hops
      dialog.reject();
    });
    QCOMPARE(c().previewFrame->picture(), shown);
    QVERIFY(limits.find("each side from 1 to 1000000") == 0);
  }

  void aNoiseRenderOfTheWavesPictureLastsToItsLastSample() {
    // 220430 samples: 4.998413 s, which "%g" would cut to 4.99841 s, 220429
    // samples.
    const std::uint32_t count = 220430;
    const std::string wave = dir_->file("long.wav");
    writeFile(wave, waveBytes(pcm16Bytes(speechLike(count, 9000)), 1, 16, 44100));
    c().whiteNoiseRadio->click();
    pictureFromWave(wave, takeDefault);
    QCOMPARE(noiseSampleCount(44100, renderSettings.durationSeconds), count);
    // Leaving the field reads its text back: the same duration.
    c().durationEdit->setFocus();
    c().loadPictureButton->setFocus();
    QCOMPARE(noiseSampleCount(44100, renderSettings.durationSeconds), count);
    QCOMPARE(c().durationEdit->text(), QString("4.998413"));

    answers_.push_back(QString::fromStdString(dir_->file("noise.wav")));
    c().generateButton->click();
    QVERIFY(c().playButton->isEnabled());
    QCOMPARE(waveSamples(dir_->file("noise.wav")).size(), std::size_t{count});
  }
};

QTEST_MAIN(StereoAndAnalysisTest)
#include "stereo_and_analysis_test.moc"
