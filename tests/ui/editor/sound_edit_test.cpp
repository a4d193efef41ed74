// SPDX-License-Identifier: GPL-3.0-or-later
// View > "Edit a sound...": the recording's picture in the editor with the
// recording attached; File > "Save sound..." gives the recording back
// wherever the picture was not painted, in the format the name asks for;
// the saved picture renders back through the files layer as well.
#include <QAction>
#include <QMenu>
#include <QMenuBar>
#include <QToolBar>
#include <sndfile.h>

#include "editor_support.h"
#include "engine/spectral_edit.h"
#include "files/edit_setup.h"
#include "ui/editor/editor_rulers.h"
#include "ui/editor/sound_edit.h"
#include "ui/view/view_menu.h"

using namespace vellomar;
using namespace vellomar::test;

namespace {

std::vector<double> decoded(const std::string& path, int& channels) {
  SF_INFO info{};
  SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
  if (!file) return {};
  std::vector<double> samples(static_cast<std::size_t>(info.frames * info.channels));
  sf_readf_double(file, samples.data(), info.frames);
  sf_close(file);
  channels = info.channels;
  return samples;
}

}  // namespace

class SoundEditTest : public QObject, public EditorFixture {
  Q_OBJECT

  std::unique_ptr<TempDir> dir_;
  std::string recording_;
  std::vector<std::int16_t> speech_;

  // A main window with the recording's picture in the editor, reached
  // through the View menu.
  void openRecording() {
    resetWindowState();
    messages = std::make_unique<MessageRecorder>();
    fileAnswers = {pathToQt(recording_)};
    setFileChooser([this](const FileRequest&) -> std::optional<QString> {
      if (fileAnswers.empty()) return std::nullopt;
      const std::optional<QString> answer = fileAnswers.front();
      fileAnswers.erase(fileAnswers.begin());
      return answer;
    });
    window = std::make_unique<MainWindow>();
    window->show();
    viewMenuOf(*window)->editSoundAction()->trigger();
    editor = editorOf(*window);
    QVERIFY(editor != nullptr);
    QVERIFY(QTest::qWaitForWindowExposed(editor));
  }

  // Black over rows [y0, y1), every column: an edit through the document.
  void paintOut(std::uint32_t y0, std::uint32_t y1) {
    canvas().setZoom(1.0);
    useTool(Tool::Rectangle);
    editor->tools().settings().filled = true;
    editor->tools().settings().level = 0;
    drag(QPointF(0.5, y0 + 0.5), QPointF(document().width() - 0.5, y1 - 0.5));
  }

  void drag(QPointF from, QPointF to) {
    QTest::mousePress(viewport(), Qt::LeftButton, Qt::NoModifier, at(from.x(), from.y()));
    QTest::mouseMove(viewport(), at(to.x(), to.y()));
    QTest::mouseRelease(viewport(), Qt::LeftButton, Qt::NoModifier, at(to.x(), to.y()));
  }

 private slots:
  void init() {
    dir_ = std::make_unique<TempDir>();
    speech_ = speechLike(44100 * 3, 12000);
    recording_ = dir_->file("take.wav");
    writeFile(recording_, waveBytes(pcm16Bytes(speech_), 1, 16, 44100));
  }
  void cleanup() { close(); }

  void theMenuOpensTheRecordingsPictureInTheEditor() {
    openRecording();
    const SoundEdit* edit = soundEditOf(document());
    QVERIFY(edit != nullptr);
    QCOMPARE(edit->recordingPath(), recording_);
    QCOMPARE(document().width(), edit->sound().record.width);
    QCOMPARE(document().height(), edit->sound().record.height);
    QCOMPARE(edit->sound().record.blockLength, kEditBlockLength);
    QVERIFY(messages->messages().empty());
    QAction* save = editor->action("saveSoundAction");
    QVERIFY(save != nullptr && save->isVisible() && save->isEnabled());
    QAction* play = editor->action("playSoundAction");
    QVERIFY(play != nullptr && play->isVisible());
    // The tool bar offers it too, as a button that shows.
    auto* bar = editor->findChild<QToolBar*>(QStringLiteral("toolBar"));
    QVERIFY(bar != nullptr && bar->actions().contains(play));
    QVERIFY(bar->widgetForAction(play) != nullptr);
    QVERIFY(editor->windowTitle().startsWith("take.wav: ") || QTest::qWaitFor([&] { return editor->windowTitle().startsWith("take.wav: "); }));
    // Another picture in its place: the recording goes, and the action.
    showPicture(*window, pictureOf(40, 30, [](std::uint32_t, std::uint32_t) { return Rgb{9, 9, 9}; }), std::string());
    QVERIFY(soundEditOf(document()) == nullptr);
    QTRY_VERIFY(!save->isVisible());
    QTRY_VERIFY(!play->isVisible());
    QTRY_VERIFY(!editor->windowTitle().startsWith("take.wav"));
  }

  void savedSoundIsTheRecordingOutsideThePaintInEachContainer() {
    openRecording();
    const SoundEdit* edit = soundEditOf(document());
    QVERIFY(edit != nullptr);
    const std::uint32_t rows = document().height();
    std::shared_ptr<const PictureBitmap> before = document().snapshot();
    paintOut(rows / 3, rows / 3 + 6);
    QVERIFY(document().isModified());
    // What the edit may reach.
    std::shared_ptr<const PictureBitmap> after = document().snapshot();
    QVERIFY(after.get() != before.get());
    std::vector<SampleRange> reach;
    QCOMPARE(editedSampleRanges(soundEditJob(edit->sound(), *after), reach), kResultOk);
    QCOMPARE(reach.size(), std::size_t{1});

    // Through the menu, to WAV; then to FLAC directly.
    const std::string wav = dir_->file("edited.wav");
    fileAnswers = {pathToQt(wav)};
    editor->action("saveSoundAction")->trigger();
    const std::string flac = dir_->file("edited.flac");
    QVERIFY(saveEditedSoundTo(editor, document(), flac));
    for (const std::string& out : {wav, flac}) {
      int channels = 0;
      const std::vector<double> samples = decoded(out, channels);
      QCOMPARE(samples.size(), speech_.size());
      std::size_t changed = 0;
      for (std::size_t i = 0; i < speech_.size(); ++i) {
        const bool reached = i >= reach[0].first && i < reach[0].end;
        if (!reached && samples[i] != speech_[i] / 32768.0) QFAIL(qPrintable(QStringLiteral("sample %1 changed").arg(i)));
        changed += samples[i] != speech_[i] / 32768.0;
      }
      QVERIFY(changed > 1000);
    }
    QVERIFY(messages->messages().empty());

    // The picture saved from the editor renders back to the same sound.
    const std::string png = dir_->file("take.png");
    fileAnswers = {pathToQt(png)};
    editor->saveAs();
    QVERIFY(fileExists(png + ".vellomar-edit"));
    QVERIFY(soundEditOf(document()) != nullptr);
    EditedPicture painted;
    Refusal refusal;
    QVERIFY(loadEditedPicture(png, painted, refusal));
    const std::string again = dir_->file("again.wav");
    QCOMPARE(renderEditedPicture(recording_, painted, again, OutputFormat{}, false, EditControl{}, refusal), kResultOk);
    QCOMPARE(readFile(again), readFile(wav));
    // Loading that picture again keeps the recording attached.
    QVERIFY(loadPictureFile(*window, png) || document().filePath() == png);
    QVERIFY(soundEditOf(document()) != nullptr);
  }

  void theRecordingIsReplacedOnlyWhenTheUserSaysSo() {
    openRecording();
    paintOut(20, 24);
    const std::vector<std::uint8_t> original = readFile(recording_);
    messages->answerQuestionsWith(kButtonNo);
    QVERIFY(!saveEditedSoundTo(editor, document(), recording_));
    QCOMPARE(readFile(recording_), original);
    QCOMPARE(messages->messages().size(), std::size_t{1});
    // A name that is no sound format is refused with the reason.
    QVERIFY(!saveEditedSoundTo(editor, document(), dir_->file("edited.mp3")));
    QVERIFY(QString::fromStdString(messages->messages().back().text).contains(".wav or .flac"));
    QVERIFY(!fileExists(dir_->file("edited.mp3")));
    messages->answerQuestionsWith(kButtonYes);
    QVERIFY(saveEditedSoundTo(editor, document(), recording_));
    QVERIFY(readFile(recording_) != original);
  }

  // A recording at 48 kHz is edited and saved at its own rate, whatever
  // the Options' output rate, and the editor's axes span its band and
  // length.
  void aRecordingAt48kHzKeepsItsRateInTheEditorAndTheSavedSound() {
    const std::vector<std::int16_t> take = speechLike(48000 * 2, 12000);
    recording_ = dir_->file("take48.wav");
    writeFile(recording_, waveBytes(pcm16Bytes(take), 1, 16, 48000));
    openRecording();
    const SoundEdit* edit = soundEditOf(document());
    QVERIFY(edit != nullptr);
    QCOMPARE(edit->record().sampleRate, 48000u);
    const EditorAxes axes = editorAxes(document());
    QCOMPARE(axes.settings.sampleRate, 48000u);
    QCOMPARE(axes.durationSeconds, 2.0f);
    // The window's scale changes later: the picture keeps the one it was
    // analysed on (Mel), at the recording's rate.
    renderSettings.frequencyScale = FrequencyScale::Linear;
    editor->action("zoomFitAction")->trigger();
    QApplication::processEvents();
    editor->frequencyRuler()->repaint();
    std::vector<std::string> ends;
    for (const RulerText& t : editor->frequencyRuler()->geometry().texts) {
      if (t.y > 20) ends.push_back(t.text);
    }
    QVERIFY(!ends.empty());
    QVERIFY2(ends.back() == "24.00k", ends.back().c_str());

    fileOptions.output.rate = 96000;
    const std::string wav = dir_->file("same48.wav");
    QVERIFY(saveEditedSoundTo(editor, document(), wav));
    QCOMPARE(readFile(wav), readFile(recording_));
    paintOut(10, 14);
    const std::string flac = dir_->file("edited48.flac");
    QVERIFY(saveEditedSoundTo(editor, document(), flac));
    SF_INFO info{};
    SNDFILE* file = sf_open(flac.c_str(), SFM_READ, &info);
    QVERIFY(file != nullptr);
    sf_close(file);
    QCOMPARE(info.samplerate, 48000);
    QCOMPARE(info.frames, static_cast<sf_count_t>(take.size()));
    QVERIFY(messages->messages().empty());
    fileOptions = SoundFileOptions{};
  }

  void aFileThatIsNoSoundIsRefusedAndThePictureStays() {
    resetWindowState();
    messages = std::make_unique<MessageRecorder>();
    window = std::make_unique<MainWindow>();
    window->show();
    const std::string bad = dir_->file("notes.txt");
    writeFile(bad, {'h', 'e', 'l', 'l', 'o'});
    QVERIFY(!editSound(*window, bad));
    QCOMPARE(messages->messages().size(), std::size_t{1});
    QVERIFY(!window->document().hasPicture());
    QVERIFY(editorOf(*window) == nullptr);
  }
};

QTEST_MAIN(SoundEditTest)
#include "sound_edit_test.moc"
