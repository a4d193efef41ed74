// SPDX-License-Identifier: GPL-3.0-or-later
// What the editor plays for a recording's picture follows its edits: after
// each revision the table holds what a whole render of that revision
// gives, sample for sample, and only the blocks the edit reaches were
// rendered again.
#include <QElapsedTimer>
#include <sndfile.h>

#include "editor_support.h"
#include "ui/editor/sound_edit.h"
#include "ui/editor/sound_edit_live.h"

using namespace vellomar;
using namespace vellomar::test;

class SoundEditLiveTest : public QObject, public EditorFixture {
  Q_OBJECT

  std::vector<float> everything(FrameSource& source) {
    std::vector<float> out(static_cast<std::size_t>(source.frameCount() * source.channels()));
    const std::int64_t got = source.read(0, source.frameCount(), out.data());
    if (got != source.frameCount()) out.clear();
    return out;
  }

  // The whole render of the document's picture, as float samples.
  std::vector<float> wholeRender(const SoundEdit& edit, const TempDir& dir) {
    const std::string path = dir.file("whole.wav");
    Refusal refusal;
    if (writeSoundEdit(edit.sound(), *document().snapshot(), path, OutputFormat{OutputKind::WavFloat, 44100},
                       EditControl{}, refusal) != kResultOk) {
      return {};
    }
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    std::vector<float> out(static_cast<std::size_t>(info.frames * info.channels));
    sf_readf_float(file, out.data(), info.frames);
    sf_close(file);
    return out;
  }

 private slots:
  void theTableFollowsEachRevisionAsAWholeRenderWould() {
    TempDir dir;
    const std::vector<std::int16_t> left = speechLike(44100 * 6, 12000), right = speechLike(44100 * 6, 5000);
    std::vector<std::int16_t> frames;
    for (std::size_t i = 0; i < left.size(); ++i) {
      // A second of digital silence in the last third, to paint over.
      const bool silent = i >= 44100 * 4 && i < 44100 * 5;
      frames.push_back(silent ? 0 : left[i]);
      frames.push_back(silent ? 0 : right[i]);
    }
    const std::string recording = dir.file("take.wav");
    writeFile(recording, waveBytes(pcm16Bytes(frames), 2, 16, 44100));
    resetWindowState();
    messages = std::make_unique<MessageRecorder>();
    window = std::make_unique<MainWindow>();
    window->show();
    QVERIFY(editSound(*window, recording));
    editor = editorOf(*window);
    SoundEdit* edit = soundEditOf(document());
    QVERIFY(edit != nullptr);
    SoundEditLive* live = edit->live();
    QVERIFY(live != nullptr);
    QTRY_VERIFY_WITH_TIMEOUT(live->hasRendered(), 20000);
    std::shared_ptr<FrameSource> source = live->source();
    const std::vector<float> first = everything(*source);
    QCOMPARE(first.size(), frames.size());
    for (std::size_t i = 0; i < frames.size(); ++i) QCOMPARE(first[i], frames[i] / 32768.0f);

    // A small edit: a few rows, every column, black.
    canvas().setZoom(1.0);
    useTool(Tool::Rectangle);
    editor->tools().settings().filled = true;
    editor->tools().settings().level = 0;
    const double y = document().height() / 2.0;
    QElapsedTimer clock;
    clock.start();
    QTest::mousePress(viewport(), Qt::LeftButton, Qt::NoModifier, at(0.5, y));
    QTest::mouseMove(viewport(), at(document().width() - 0.5, y + 3));
    QTest::mouseRelease(viewport(), Qt::LeftButton, Qt::NoModifier, at(document().width() - 0.5, y + 3));
    const std::uint64_t revision = document().revision();
    QTRY_VERIFY_WITH_TIMEOUT(live->hasRendered() && live->renderedRevision() == revision, 20000);
    qInfo("edit to published blocks: %lld ms, %lld of %lld frames rendered again", static_cast<long long>(clock.elapsed()),
          static_cast<long long>(live->lastRenderedFrames()), static_cast<long long>(left.size()));
    QVERIFY(live->lastRenderedFrames() > 0);
    QVERIFY(live->lastRenderedFrames() < static_cast<std::int64_t>(left.size()) / 2);
    QVERIFY(everything(*source) == wholeRender(*edit, dir));
    // Undone: the recording again.
    document().undoStack().undo();
    QTRY_VERIFY_WITH_TIMEOUT(live->renderedRevision() == document().revision(), 20000);
    QVERIFY(everything(*source) == first);

    // The select tool's drag moves the spectrum under the selection: the
    // table holds the render with the move, which differs from the
    // pixels' render alone; undone, the recording again.
    useTool(Tool::Select);
    const double top = document().height() / 4.0;
    QTest::mousePress(viewport(), Qt::LeftButton, Qt::NoModifier, at(100.5, top));
    QTest::mouseMove(viewport(), at(200.5, top + 20));
    QTest::mouseRelease(viewport(), Qt::LeftButton, Qt::NoModifier, at(200.5, top + 20));
    QVERIFY(!editor->tools().selection().empty());
    QTest::mousePress(viewport(), Qt::LeftButton, Qt::NoModifier, at(150.5, top + 10));
    QTest::mouseMove(viewport(), at(170.5, top + 50));
    QTest::mouseRelease(viewport(), Qt::LeftButton, Qt::NoModifier, at(170.5, top + 50));
    QCOMPARE(edit->activeMoves().size(), std::size_t{1});
    QCOMPARE(edit->activeMoves()[0].frameOffset > 0, true);
    QTRY_VERIFY_WITH_TIMEOUT(live->renderedRevision() == document().revision() && live->lastRenderedFrames() > 0, 20000);
    QTest::qWait(300);  // the move's own render follows the pixels'
    const std::vector<float> moved = wholeRender(*edit, dir);
    QTRY_VERIFY_WITH_TIMEOUT(everything(*source) == moved, 20000);
    SoundForEditing pixelsOnly = edit->sound();
    pixelsOnly.moves.clear();
    SpectralEditJob job = soundEditJob(pixelsOnly, *document().snapshot());
    std::vector<float> gains;
    job.write = [&](std::uint64_t, std::size_t count, const double* y) {
      for (std::size_t i = 0; i < count * 2; ++i) gains.push_back(static_cast<float>(y[i] / 32768.0));
      return kResultOk;
    };
    QCOMPARE(renderSpectralEdit(job), kResultOk);
    QVERIFY(gains != moved);
    document().undoStack().undo();
    QVERIFY(edit->activeMoves().empty());
    QTRY_VERIFY_WITH_TIMEOUT(everything(*source) == first, 20000);

    // Painted over the silence, in two steps one after the other in time:
    // the cells are synthesised as one run, and the second step changes
    // the first one's samples too, though not its pixels.
    useTool(Tool::Rectangle);
    editor->tools().settings().level = 200;
    const double rowsPerSecond = document().height() / 6.0;
    for (const double from : {4.2, 4.45}) {
      QTest::mousePress(viewport(), Qt::LeftButton, Qt::NoModifier, at(60.5, from * rowsPerSecond));
      QTest::mouseMove(viewport(), at(200.5, (from + 0.25) * rowsPerSecond));
      QTest::mouseRelease(viewport(), Qt::LeftButton, Qt::NoModifier, at(200.5, (from + 0.25) * rowsPerSecond));
      QTRY_VERIFY_WITH_TIMEOUT(live->renderedRevision() == document().revision(), 20000);
      QVERIFY(everything(*source) == wholeRender(*edit, dir));
    }
    close();
  }
};

QTEST_MAIN(SoundEditLiveTest)
#include "sound_edit_live_test.moc"
