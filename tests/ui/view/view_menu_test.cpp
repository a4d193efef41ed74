// SPDX-License-Identifier: GPL-3.0-or-later
// The View menu: the spectrogram window after renders, pictures from wave
// files and saved as PNG, re-rendering when the picture file is saved by
// another program, and the playhead. Driven through the real window with
// real files; the sound player is the test's own.
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTest>
#include <cmath>
#include <filesystem>
#include <memory>

#include "engine/settings.h"
#include "files/messages.h"
#include "files/picture.h"
#include "files/picture_preview.h"
#include "support/test_support.h"
#include "support/window_support.h"
#include "ui/axes/axes.h"
#include "ui/main_window/main_window.h"
#include "ui/view/picture_size_dialog.h"
#include "ui/view/picture_watcher.h"
#include "ui/playback/playback.h"
#include "ui/axes/preview_frame.h"
#include "ui/view/spectrogram_window.h"
#include "ui/view/view_menu.h"
#include "ui/main_window/window_commands.h"

using namespace vellomar;
using namespace vellomar::test;

namespace {

// A grey picture file: brightness(x, y) per pixel, written beside and
// renamed into place as editors save.
template <typename F>
void savePicture(const std::string& path, int width, int height, F brightness) {
  QImage image(width, height, QImage::Format_RGB32);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const int v = brightness(x, y);
      image.setPixel(x, y, qRgb(v, v, v));
    }
  }
  const std::string temporary = path + ".part.png";
  QVERIFY(image.save(QString::fromStdString(temporary), "PNG"));
  std::filesystem::rename(temporary, path);
}


}  // namespace

class ViewMenuTest : public QObject {
  Q_OBJECT

  std::unique_ptr<MainWindow> window_;
  std::unique_ptr<MessageRecorder> messages_;
  std::vector<FileRequest> requests_;
  std::vector<QString> answers_;
  std::vector<QString> played_;
  std::unique_ptr<TempDir> dir_;

  const MainWindowControls& c() const { return window_->controls(); }
  ViewMenu& view() const { return *viewMenuOf(*window_); }

  // Loads a smooth picture file and renders it to out.wav (chosen in the
  // save dialog), white noise for `seconds`.
  void renderSmoothPicture(const std::string& picture, double seconds) {
    savePicture(picture, 24, 12, [](int x, int y) { return static_cast<int>(128 + 90 * std::sin(x * 0.3) * std::cos(y * 0.4)); });
    QVERIFY(loadPictureFile(*window_, picture));
    c().whiteNoiseRadio->click();
    c().durationEdit->setText(QString::number(seconds));
    c().exitButton->setFocus();
    c().durationEdit->setFocus();
    c().loadPictureButton->setFocus();
    if (renderSettings.outputPath.empty()) answers_.push_back(QString::fromStdString(dir_->file("out.wav")));
    c().generateButton->click();
    QVERIFY(c().playButton->isEnabled());
    // Rows far longer than a hop may have made the render ask about the
    // granularity (told Yes); nothing else is said.
    for (const ShownMessage& m : messages_->messages()) QCOMPARE(m.caption, std::string("Warning"));
    messages_->clear();
    // The progress dialog has gone; the window takes the keys again.
    QApplication::setActiveWindow(window_.get());
    QVERIFY(QTest::qWaitForWindowActive(window_.get()));
  }

 private slots:
  void init() {
    resetWindowState();
    dir_ = std::make_unique<TempDir>();
    messages_ = std::make_unique<MessageRecorder>();
    requests_.clear();
    answers_.clear();
    played_.clear();
    setFileChooser([this](const FileRequest& request) -> std::optional<QString> {
      requests_.push_back(request);
      if (answers_.empty()) return std::nullopt;
      const QString answer = answers_.front();
      answers_.erase(answers_.begin());
      if (answer.isEmpty()) return std::nullopt;
      return answer;
    });
    setSoundPlayer([this](const QString& path) { played_.push_back(path); });
    window_ = std::make_unique<MainWindow>();
    window_->show();
    QApplication::setActiveWindow(window_.get());
    QVERIFY(QTest::qWaitForWindowActive(window_.get()));
    view().watcher().setTimings(60, 60, 4);
  }

  void cleanup() {
    window_.reset();
    setFileChooser(nullptr);
    setSoundPlayer(nullptr);
    messages_.reset();
    dir_.reset();
    resetWindowState();
  }

  void theMenuSitsBeforeHelpWithItsShortcuts() {
    QMenu* menu = view().menu();
    QCOMPARE(menu->title(), QString("&View"));
    QCOMPARE(c().menuBar->actions().front(), menu->menuAction());
    const struct {
      QAction* action;
      const char* text;
      QKeySequence keys;
      bool enabled;
    } items[] = {
        {view().spectrogramAction(), "Spectrogram of generated sound", QKeySequence("Ctrl+Shift+E"), false},
        {view().pictureFromWaveAction(), "Picture from wave file...", QKeySequence("Ctrl+Shift+O"), true},
        {view().savePictureAction(), "Save picture as...", QKeySequence("Ctrl+Shift+S"), false},
        {view().watchAction(), "Re-render when the picture file changes", QKeySequence("Ctrl+Shift+R"), false},
    };
    for (const auto& item : items) {
      QVERIFY(menu->actions().contains(item.action));
      QCOMPARE(item.action->text(), QString(item.text));
      QCOMPARE(item.action->shortcut(), item.keys);
      QCOMPARE(item.action->isEnabled(), item.enabled);
    }
    QVERIFY(view().watchAction()->isCheckable());
    QVERIFY(!view().statusAction()->isVisible());
    // Keys no button of the window uses.
    for (QAction* a : window_->actions()) {
      for (const auto& item : items) QVERIFY(a->shortcut() != item.keys);
    }

    // A loaded picture can be saved and watched.
    QVERIFY(loadPictureFile(*window_, writeSmall("p.png")));
    QVERIFY(view().savePictureAction()->isEnabled());
    QVERIFY(view().watchAction()->isEnabled());
    QVERIFY(!view().spectrogramAction()->isEnabled());
  }

  void theSpectrogramWindowShowsAfterARenderOnThePreviewsAxes() {
    renderSmoothPicture(dir_->file("smooth.png"), 4);
    QVERIFY(view().spectrogramAction()->isEnabled());
    QTest::keyClick(window_.get(), Qt::Key_E, Qt::ControlModifier | Qt::ShiftModifier);
    SpectrogramWindow* w = view().spectrogramWindow();
    QVERIFY(w != nullptr);
    QVERIFY(QTest::qWaitForWindowExposed(w));
    QCOMPARE(w->windowTitle(), QString("Spectrogram of generated sound"));
    QVERIFY(w->parentWidget() == window_.get());
    QVERIFY(!(w->windowFlags() & Qt::MSWindowsFixedSizeDialogHint));

    // The picture beside the sound's analysis of the same size, which
    // looks like it.
    const QImage picture = picturePreview(*c().previewFrame->picture());
    QCOMPARE(w->picturePanel()->image(), picture);
    QCOMPARE(w->soundPanel()->image().size(), picture.size());
    QVERIFY(pictureCorrelation(w->soundPanel()->image(), picture) > 0.8);
    QVERIFY(messages_->messages().empty());

    // The same axes as the preview: at the preview's size, the very same
    // strips.
    const QSize previewInterior = c().previewFrame->interior().size();
    SpectrogramPanel* panel = w->soundPanel();
    const QRect before = panel->interior();
    panel->resize(panel->width() + previewInterior.width() - before.width(),
                  panel->height() + previewInterior.height() - before.height());
    QCOMPARE(panel->interior().size(), previewInterior);
    QCOMPARE(panel->timeAxis(), c().timeAxisStrip->pixmap().toImage());
    QCOMPARE(panel->frequencyAxis(), c().freqAxisStrip->pixmap().toImage());

    // The difference shows where the sound is not the picture.
    w->differenceToggle()->click();
    QCOMPARE(w->soundTitle()->text(), QString("Difference (sound - picture)"));
    QCOMPARE(w->soundPanel()->image(), differenceImage(picture, w->soundImage()));
    w->differenceToggle()->click();
    QCOMPARE(w->soundPanel()->image(), w->soundImage());

    // Another render refreshes it: a black picture sounds black.
    savePicture(dir_->file("black.png"), 24, 12, [](int, int) { return 0; });
    QVERIFY(loadPictureFile(*window_, dir_->file("black.png")));
    c().generateButton->click();
    messages_->clear();
    QTRY_COMPARE(w->picturePanel()->image(), picturePreview(*c().previewFrame->picture()));
    const QImage sound = w->soundImage();
    for (int y = 0; y < sound.height(); ++y) {
      for (int x = 0; x < sound.width(); ++x) QCOMPARE(qGray(sound.pixel(x, y)), 0);
    }
    QVERIFY(messages_->messages().empty());
  }

  void thePlayheadFollowsThePlayer() {
    renderSmoothPicture(dir_->file("smooth.png"), 4);
    view().spectrogramAction()->trigger();
    SpectrogramWindow* w = view().spectrogramWindow();
    QVERIFY(w != nullptr);
    Playback& playback = playbackOf(*window_);
    QSignalSpy playing(&playback, &Playback::playingChanged);

    // The player says where it is; the preview and both panels follow.
    emit playback.positionChanged(1000);
    const QRect inside = c().previewFrame->interior();
    QCOMPARE(c().previewFrame->playhead(), 0.25);
    QCOMPARE(c().previewFrame->playheadY(), inside.top() + static_cast<int>(0.25 * inside.height()));
    QCOMPARE(w->picturePanel()->playhead(), 0.25);
    QCOMPARE(w->soundPanel()->playheadY(), w->soundPanel()->interior().top() +
                                               static_cast<int>(0.25 * w->soundPanel()->interior().height()));
    emit playback.positionChanged(4000);
    QCOMPARE(c().previewFrame->playheadY(), inside.bottom());
    // The line is drawn, across the whole picture.
    const QImage shot = c().previewFrame->grab().toImage();
    const int y = qRound(c().previewFrame->playheadY() * shot.devicePixelRatio());
    QCOMPARE(shot.pixel(shot.width() / 2, y), kPlayheadColour);

    emit playback.playingChanged(false);
    QCOMPARE(c().previewFrame->playheadY(), -1);
    QCOMPARE(w->soundPanel()->playheadY(), -1);
    QCOMPARE(c().playButton->text(), QString("Play generated"));
    emit playback.playingChanged(true);
    QCOMPARE(c().playButton->text(), QString("Stop playing"));
    emit playback.playingChanged(false);
  }

  void aWaveBecomesThePictureReadyToRender() {
    const std::string wave = dir_->file("speech.wav");
    writeFile(wave, waveBytes(pcm16Bytes(speechLike(44100 * 2, 9000)), 1, 16, 44100));
    answers_.push_back(QString::fromStdString(wave));
    {
      // The size offered is the default; Enter takes it.
      ModalAnswer size(QStringLiteral("pictureSizeDialog"), [](QWidget* dialog) {
        auto* sizes = static_cast<PictureSizeDialog*>(dialog);
        QCOMPARE(sizes->widthField()->text(), QString("512"));
        QCOMPARE(sizes->heightField()->text(), QString("43"));
        QTest::keyClick(sizes->heightField(), Qt::Key_Return);
      });
      view().pictureFromWaveAction()->trigger();
      QVERIFY(size.answered());
    }
    QCOMPARE(requests_.back().title, QString("Select wave file to analyse"));
    QVERIFY(!requests_.back().forSaving);
    QVERIFY(messages_->messages().empty());
    const auto picture = c().previewFrame->picture();
    QVERIFY(picture != nullptr);
    QCOMPARE(picture->width, 512u);
    QCOMPARE(picture->height, 43u);  // 2 s of 2048-sample hops
    QCOMPARE(pictureData.pixels, picture->pixels.data());
    QVERIFY(c().generateButton->isEnabled());
    QCOMPARE(renderSettings.durationSeconds, 2.0f);  // noise renders as long as the wave
    QCOMPARE(c().durationEdit->text(), QString("2"));
    QVERIFY(window_->session().picturePath.empty());
    QVERIFY(view().savePictureAction()->isEnabled());
    QVERIFY(!view().watchAction()->isEnabled());

    // A wave the reader refuses: its own words, and the picture stays.
    const std::string stereo = dir_->file("stereo.wav");
    writeFile(stereo, waveBytes(pcm16Bytes(speechLike(8820, 8000)), 3, 16, 44100));
    answers_.push_back(QString::fromStdString(stereo));
    view().pictureFromWaveAction()->trigger();
    // The text as it was, and on the line after it what the file is.
    QCOMPARE(messages_->only().text,
             std::string("The input wave is stereo (or it has more channels). This is not supported in this version "
                         "of Vellomar.\n") +
                 stereo +
                 ": 44100 Hz, 16-bit, 3 channels, WAV; the classic reader needs 44100 Hz, 8 or 16-bit, mono or "
                 "stereo WAV; no reader of Vellomar takes more than two channels");
    QCOMPARE(c().previewFrame->picture(), picture);

    // Saving it proposes the wave's name, as a PNG file.
    view().savePictureAction()->trigger();
    QCOMPARE(requests_.back().title, QString("Save picture as"));
    QCOMPARE(requests_.back().initialPath, QString::fromStdString(dir_->file("speech.png")));
  }

  void savingThePictureWritesAPngAndAsksBeforeReplacing() {
    QVERIFY(loadPictureFile(*window_, writeSmall("p.png")));
    const std::string saved = dir_->file("saved.png");
    answers_.push_back(QString::fromStdString(saved));
    QTest::keyClick(window_.get(), Qt::Key_S, Qt::ControlModifier | Qt::ShiftModifier);
    QCOMPARE(requests_.back().title, QString("Save picture as"));
    QVERIFY(requests_.back().forSaving);
    QCOMPARE(requests_.back().defaultExtension, QString("png"));
    QVERIFY(!requests_.back().confirmOverwrite);  // the command asks itself
    const auto back = loadPicture(saved);
    QVERIFY(back != nullptr);
    QCOMPARE(back->pixels, c().previewFrame->picture()->pixels);
    QCOMPARE(window_->session().picturePath, saved);
    QVERIFY(messages_->messages().empty());

    // An existing file: asked, and No keeps it as it was.
    const std::string earlier = dir_->file("earlier.png");
    writeFile(earlier, {'o', 'l', 'd'});
    messages_->answerQuestionsWith(kButtonNo);
    answers_.push_back(QString::fromStdString(earlier));
    view().savePictureAction()->trigger();
    QCOMPARE(messages_->only().caption, std::string("File exists"));
    QCOMPARE(messages_->only().text, "The file '" + earlier + "' already exists.\nDo you want to replace it?");
    QCOMPARE(messages_->only().boxType, kBoxYesNo | kBoxIconWarning | kBoxDefaultButton2);
    QCOMPARE(readFile(earlier), (std::vector<std::uint8_t>{'o', 'l', 'd'}));
    QCOMPARE(window_->session().picturePath, saved);
    // Yes replaces it.
    messages_->clear();
    messages_->answerQuestionsWith(kButtonYes);
    answers_.push_back(QString::fromStdString(earlier));
    view().savePictureAction()->trigger();
    QVERIFY(loadPicture(earlier) != nullptr);
    QCOMPARE(window_->session().picturePath, earlier);

    // A folder that is not there: the writer's words.
    messages_->clear();
    const std::string nowhere = dir_->file("none/p.png");
    answers_.push_back(QString::fromStdString(nowhere));
    view().savePictureAction()->trigger();
    QCOMPARE(messages_->only().text, "Cannot create picture file '" + nowhere + "'");
  }

  void theWatchRerendersAndPlaysWhenThePictureFileIsSaved() {
    const std::string picture = dir_->file("watched.png");
    renderSmoothPicture(picture, 0.5);
    const auto firstSound = readFile(renderSettings.outputPath);
    view().watchAction()->trigger();
    QVERIFY(view().watchAction()->isChecked());
    QCOMPARE(view().status(), QString("Watching 'watched.png'"));
    QVERIFY(window_->windowTitle().endsWith("Watching 'watched.png'"));
    QVERIFY(view().statusAction()->isVisible());
    QSignalSpy rendered(window_.get(), &MainWindow::soundGenerated);

    // Three quick saves by another program make one render, of the last.
    for (int v : {40, 90, 255}) savePicture(picture, 10, 6, [v](int, int) { return v; });
    QTRY_COMPARE_WITH_TIMEOUT(rendered.count(), 1, 10000);
    QTest::qWait(400);
    QCOMPARE(rendered.count(), 1);
    QCOMPARE(c().previewFrame->picture()->width, 10u);
    QCOMPARE(int(c().previewFrame->picture()->pixels[0]), 255);
    QVERIFY(readFile(renderSettings.outputPath) != firstSound);
    QCOMPARE(played_.size(), std::size_t{1});
    QCOMPARE(played_[0], QString::fromStdString(renderSettings.outputPath));
    QVERIFY(view().status().startsWith("Watching 'watched.png'; rendered at "));
    QVERIFY(messages_->messages().empty());

    // Other files of the folder changing is no save.
    writeFile(dir_->file("other.txt"), {'x'});
    QTest::qWait(400);
    QCOMPARE(rendered.count(), 1);

    // Half a file, as while an editor is still writing it: tried again,
    // then left for the next save, and never a box.
    writeFile(picture, {0x89, 'P', 'N', 'G', '\r', '\n'});
    QTRY_VERIFY_WITH_TIMEOUT(view().status().contains("could not be loaded"), 10000);
    QCOMPARE(view().status(), QString("'watched.png' could not be loaded; waiting for the next save"));
    QCOMPARE(rendered.count(), 1);
    QVERIFY(messages_->messages().empty());
    savePicture(picture, 10, 6, [](int x, int) { return x * 20; });
    QTRY_COMPARE_WITH_TIMEOUT(rendered.count(), 2, 10000);
    QCOMPARE(played_.size(), std::size_t{2});

    // Deleted: the watch ends quietly and the window says so.
    std::filesystem::remove(picture);
    QTRY_VERIFY_WITH_TIMEOUT(!view().watchAction()->isChecked(), 10000);
    QCOMPARE(view().status(), QString("'watched.png' was deleted; stopped watching"));
    QVERIFY(window_->windowTitle().endsWith("was deleted; stopped watching"));
    QVERIFY(messages_->messages().empty());
    QVERIFY(!view().watcher().watching());
    savePicture(picture, 10, 6, [](int, int) { return 7; });
    QTest::qWait(400);
    QCOMPARE(rendered.count(), 2);
    // The file is back: "was deleted" is no longer true and goes.
    QTRY_VERIFY_WITH_TIMEOUT(view().status().isEmpty(), 5000);
    QCOMPARE(window_->windowTitle(), QString("Vellomar"));

    // Watching again, then off: the title is the window's own again.
    view().watchAction()->trigger();
    QVERIFY(view().watcher().watching());
    view().watchAction()->trigger();
    QCOMPARE(window_->windowTitle(), QString("Vellomar"));
    QVERIFY(!view().statusAction()->isVisible());
  }

  void aSaveWithoutAChosenOutputRendersNothing() {
    const std::string picture = writeSmall("p.png");
    QVERIFY(loadPictureFile(*window_, picture));
    view().watchAction()->trigger();
    savePicture(picture, 6, 6, [](int, int) { return 200; });
    QTRY_VERIFY_WITH_TIMEOUT(view().status().contains("changed"), 10000);
    QCOMPARE(view().status(), QString("'p.png' changed; generate the sound once to choose where it goes"));
    QCOMPARE(c().previewFrame->picture()->width, 6u);
    QVERIFY(requests_.empty());  // nothing asked
    QVERIFY(messages_->messages().empty());
    QVERIFY(played_.empty());

    // An output chosen: the status says what is left to do, and goes once
    // the sound is generated.
    c().whiteNoiseRadio->click();
    c().durationEdit->setText("0.5");
    c().durationEdit->setFocus();
    c().loadPictureButton->setFocus();
    answers_.push_back(QString::fromStdString(dir_->file("out.wav")));
    c().outputBrowseButton->click();
    QCOMPARE(renderSettings.outputPath, dir_->file("out.wav"));
    QCOMPARE(view().status(), QString("'p.png' changed; generate the sound to hear it"));
    c().generateButton->click();
    QVERIFY(c().playButton->isEnabled());
    QCOMPARE(view().status(), QString("Watching 'p.png'"));
    QVERIFY(window_->windowTitle().endsWith("Watching 'p.png'"));
  }

 private:
  std::string writeSmall(const char* name) {
    const std::string path = dir_->file(name);
    savePicture(path, 8, 4, [](int x, int y) { return x * 30 + y; });
    return path;
  }
};

QTEST_MAIN(ViewMenuTest)
#include "view_menu_test.moc"
