// SPDX-License-Identifier: GPL-3.0-or-later
// The main window's file names, typed, chosen or dropped: where a typed
// name is taken from, the placeholder, the same file under other spellings
// and a path too long to take, driven through the real widgets.
#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QUrl>
#include <filesystem>

#include "engine/settings.h"
#include "files/messages.h"
#include "support/test_support.h"
#include "ui/main_window/main_window.h"
#include "ui/main_window/window_commands.h"
#include "window_commands_support.h"

using namespace vellomar;
using namespace vellomar::test;

class TypedPathsTest : public QObject, public WindowCommandsFixture {
  Q_OBJECT

 private slots:
  void init() { openWindow(); }
  void cleanup() { closeWindow(); }

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
};

QTEST_MAIN(TypedPathsTest)
#include "typed_paths_test.moc"
