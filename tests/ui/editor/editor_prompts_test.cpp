// SPDX-License-Identifier: GPL-3.0-or-later
// Unsaved edits are never lost unasked: closing the editor, loading a
// picture, a picture from a wave file, a save of the same file by another
// program and closing the main window (Esc, the close box, Exit) ask Save,
// Discard or Cancel first, and do what the answer says. Without edits
// nothing asks.
#include <QAction>
#include <QPushButton>
#include <QStatusBar>
#include <filesystem>

#include "editor_support.h"
#include "files/picture.h"
#include "files/picture_writer.h"
#include "ui/axes/preview_frame.h"
#include "ui/view/picture_watcher.h"
#include "ui/view/view_menu.h"

using namespace vellomar;
using namespace vellomar::test;

namespace {

std::shared_ptr<PictureBitmap> stripes() {
  return pictureOf(40, 30, [](std::uint32_t x, std::uint32_t) {
    return x % 4 < 2 ? Rgb{30, 60, 90} : Rgb{200, 100, 0};
  });
}

// A picture file of one grey level.
std::string savedPicture(const TempDir& dir, const char* name, std::uint8_t level) {
  auto p = pictureOf(40, 30, [level](std::uint32_t, std::uint32_t) { return Rgb{level, level, level}; });
  Refusal refusal;
  const std::string path = dir.file(name);
  savePicturePng(*p, path, refusal);
  return path;
}

std::size_t unsavedQuestions(const MessageRecorder& m) {
  std::size_t n = 0;
  for (const ShownMessage& shown : m.messages()) n += (shown.boxType & 0xF) == kBoxSaveDiscardCancel;
  return n;
}

}  // namespace

class EditorPromptsTest : public QObject, public EditorFixture {
  Q_OBJECT

  std::unique_ptr<TempDir> dir_;

  // One white dab at (10, 10): an unsaved edit.
  void edit() {
    useTool(Tool::Brush);
    click(10.5, 10.5);
    QVERIFY(document().isModified());
  }

 private slots:
  void init() { dir_ = std::make_unique<TempDir>(); }
  void cleanup() {
    close();
    dir_.reset();
  }

  void closingTheEditorAsksAndDoesWhatIsAnswered() {
    const std::string path = savedPicture(*dir_, "p.png", 50);
    open(std::shared_ptr<PictureBitmap>(editableCopy(*loadPicture(path))), 4.0, path);
    const PictureBitmap loaded = picture();
    edit();

    // Cancel: the editor stays, and so do the edits.
    messages->answerUnsavedWith(kButtonCancel);
    QVERIFY(!editor->close());
    QCOMPARE(unsavedQuestions(*messages), std::size_t{1});
    QVERIFY(editor->isVisible() && document().isModified());

    // Discard: the picture goes back to what was saved.
    messages->answerUnsavedWith(kButtonNo);
    QVERIFY(editor->close());
    QVERIFY(!document().isModified());
    QVERIFY(picture().pixels == loaded.pixels);
    QVERIFY(pictureData.pixels[offsetOf(picture(), 10, 10)] == 50);

    // Save: written to its own PNG file, in colour, and loaded back alike.
    editor = openEditor(*window);
    editor->canvas()->setZoom(4.0);
    edit();
    messages->answerUnsavedWith(kButtonYes);
    QVERIFY(editor->close());
    QVERIFY(!document().isModified());
    const auto back = loadPicture(path);
    QVERIFY(back && back->pixels == picture().pixels && back->red == picture().red);
  }

  void loadingAnotherPictureAsksFirst() {
    open(stripes());
    edit();
    const std::string other = savedPicture(*dir_, "other.png", 120);
    messages->answerUnsavedWith(kButtonCancel);
    QVERIFY(!loadPictureFile(*window, other));
    QVERIFY(document().isModified());
    QCOMPARE(picture().width, 40u);
    QCOMPARE(pixel(10, 10), (Rgb{255, 255, 255}));
    messages->answerUnsavedWith(kButtonNo);
    QVERIFY(loadPictureFile(*window, other));
    QVERIFY(!document().isModified());
    QCOMPARE(pixel(10, 10), (Rgb{120, 120, 120}));
    QCOMPARE(unsavedQuestions(*messages), std::size_t{2});
  }

  // Without edits nothing asks: loading, analysing and closing go on as
  // they always did.
  void withoutEditsNothingAsks() {
    open(stripes());
    QVERIFY(loadPictureFile(*window, savedPicture(*dir_, "a.png", 10)));
    editor->close();
    QVERIFY(!editor->isVisible());
    QVERIFY(window->closeAfterAsking());
    QCOMPARE(unsavedQuestions(*messages), std::size_t{0});
    QVERIFY(messages->messages().empty());
  }

  // A picture from a wave file would replace the drawing: asked first, and
  // a Cancel asks for no wave at all.
  void aPictureFromAWaveAsksFirst() {
    open(stripes());
    edit();
    messages->answerUnsavedWith(kButtonCancel);
    fileAnswers.push_back(QStringLiteral("/nonexistent.wav"));
    viewMenuOf(*window)->pictureFromWaveAction()->trigger();
    QCOMPARE(unsavedQuestions(*messages), std::size_t{1});
    QCOMPARE(fileAnswers.size(), std::size_t{1});  // the wave was never asked for
    QVERIFY(document().isModified());
  }

  // Esc, the close box and Exit of the main window would end the program
  // and lose the drawing: asked first; Cancel keeps the window open.
  void closingTheMainWindowAsksFirst() {
    open(stripes());
    edit();
    messages->answerUnsavedWith(kButtonCancel);
    QTest::keyClick(window.get(), Qt::Key_Escape);
    QVERIFY(window->isVisible());
    window->close();
    QVERIFY(window->isVisible());
    window->controls().exitButton->click();
    QVERIFY(window->isVisible());
    QCOMPARE(unsavedQuestions(*messages), std::size_t{3});
    messages->answerUnsavedWith(kButtonNo);
    window->close();
    QVERIFY(!window->isVisible());
    QCOMPARE(window->result(), 1);
  }

  // Another program saves the watched file while the editor has unsaved
  // edits: Cancel keeps the edits and leaves that save unread; Discard
  // takes the file as saved.
  void aWatchedSaveAsksBeforeReplacingEdits() {
    const std::string path = savedPicture(*dir_, "w.png", 60);
    open(std::shared_ptr<PictureBitmap>(editableCopy(*loadPicture(path))), 4.0, path);
    ViewMenu& view = *viewMenuOf(*window);
    view.watcher().setTimings(60, 60, 4);
    view.watchAction()->trigger();
    edit();
    messages->answerUnsavedWith(kButtonCancel);
    savedPicture(*dir_, "w.png", 90);
    QTRY_VERIFY_WITH_TIMEOUT(view.status().contains("left unread"), 10000);
    QCOMPARE(pixel(10, 10), (Rgb{255, 255, 255}));
    QCOMPARE(pixel(30, 20), (Rgb{60, 60, 60}));
    messages->answerUnsavedWith(kButtonNo);
    savedPicture(*dir_, "w.png", 110);
    QTRY_COMPARE_WITH_TIMEOUT(pixel(30, 20), (Rgb{110, 110, 110}), 10000);
    QVERIFY(!document().isModified());
    QCOMPARE(unsavedQuestions(*messages), std::size_t{2});
  }
};

QTEST_MAIN(EditorPromptsTest)
#include "editor_prompts_test.moc"
