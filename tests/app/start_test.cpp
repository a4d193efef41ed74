// SPDX-License-Identifier: GPL-3.0-or-later
// The window program's start: its command line (also run as a program,
// without a display), the files it is given told apart by their contents,
// and what the window does with them.
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QtTest>

#include "app/command_line.h"
#include "app/start_files.h"
#include "files/messages.h"
#include "support/test_support.h"
#include "support/window_support.h"
#include "ui/common/app_state.h"
#include "ui/common/message_box.h"
#include "ui/main_window/main_window.h"

using namespace vellomar;
using vellomar::test::TempDir;

namespace {

QString q(const std::string& text) { return QString::fromStdString(text); }

// A picture and a sound under names that say the opposite.
struct MisnamedFiles {
  TempDir dir;
  QString picture = q(dir.file("sound.wav"));
  QString sound = q(dir.file("picture.png"));
  MisnamedFiles() {
    QImage image(40, 30, QImage::Format_RGB32);
    image.fill(Qt::white);
    image.save(picture, "PNG");
    test::writeFile(dir.file("picture.png"),
                    test::waveBytes(test::pcm16Bytes(std::vector<std::int16_t>(44100, 1000)), 1, 16, 44100));
  }
};

struct Run {
  int exitCode = -1;
  QString out;
  QString err;
};

// The built program, with no display to reach.
Run runProgram(const QStringList& arguments) {
  QProcess process;
  QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) environment.remove(QString::fromLatin1(name));
  process.setProcessEnvironment(environment);
  process.start(QStringLiteral(VELLOMAR_EXE), arguments);
  Run run;
  if (!process.waitForFinished(30000)) {
    process.kill();
    process.waitForFinished();
    return run;
  }
  run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
  run.out = QString::fromLocal8Bit(process.readAllStandardOutput());
  run.err = QString::fromLocal8Bit(process.readAllStandardError());
  return run;
}

}  // namespace

class StartTest : public QObject {
  Q_OBJECT

 private slots:
  void init() { test::resetWindowState(); }

  void theCommandLineNamesFilesAndOptions() {
    StartCommandLine line = parseStartCommandLine({"vellomar", "b.wav", "a.png"});
    QCOMPARE(line.files, QStringList({"b.wav", "a.png"}));
    QVERIFY(line.error.isEmpty());
    QVERIFY(!line.help && !line.version);
    QVERIFY(parseStartCommandLine({"vellomar", "--help"}).help);
    QVERIFY(parseStartCommandLine({"vellomar", "-h"}).help);
    QVERIFY(parseStartCommandLine({"vellomar", "--version"}).version);
    QVERIFY(parseStartCommandLine({"vellomar", "-v"}).version);
    // A word after one dash is one option, not a row of letters (-reverse
    // is not -r -e -v ...).
    line = parseStartCommandLine({"vellomar", "-reverse"});
    QVERIFY(!line.version);
    QVERIFY2(line.error.contains("reverse"), qPrintable(line.error));
    line = parseStartCommandLine({"vellomar", "--frobnicate", "a.png"});
    QVERIFY2(line.error.contains("frobnicate"), qPrintable(line.error));
    // After "--" everything is a file, even a name that starts with a dash.
    line = parseStartCommandLine({"vellomar", "--", "-dashed.png", "--help"});
    QCOMPARE(line.files, QStringList({"-dashed.png", "--help"}));
    QVERIFY(!line.help && line.error.isEmpty());
  }

  void helpAndVersionNeedNoDisplay() {
    const Run help = runProgram({"--help"});
    QCOMPARE(help.exitCode, 0);
    QVERIFY2(help.out.startsWith("Usage: vellomar [FILE...]\n"), qPrintable(help.out + help.err));
    QVERIFY(help.out.contains("--version"));
    const Run version = runProgram({"--version"});
    QCOMPARE(version.exitCode, 0);
    QVERIFY2(QRegularExpression("^vellomar \\d+\\.\\d+\\.\\d+\\n").match(version.out).hasMatch(),
             qPrintable(version.out));
    QVERIFY(version.out.contains("GPL-3.0-or-later"));
    // Qt's own options around them do not get in the way.
    QCOMPARE(runProgram({"-platform", "offscreen", "-v"}).exitCode, 0);
  }

  void anUnknownOptionIsAUsageError() {
    // Qt takes its own options first; what is left is judged.
    const Run run = runProgram({"-platform", "offscreen", "-style", "fusion", "--frobnicate"});
    QCOMPARE(run.exitCode, 2);
    QVERIFY2(QRegularExpression("(^|\\n)vellomar: [^\\n]*frobnicate").match(run.err).hasMatch(), qPrintable(run.err));
    QVERIFY2(!run.err.contains("platform") && !run.err.contains("style"), qPrintable(run.err));
    QVERIFY(run.err.contains("vellomar --help"));
  }

  void filesAreToldApartByTheirContents() {
    MisnamedFiles files;
    QCOMPARE(checkStartFile(files.picture).kind, StartFileKind::Picture);
    QCOMPARE(checkStartFile(files.sound).kind, StartFileKind::Sound);

    TempDir dir;
    // A JPEG starts with 0xFF like an MPEG frame does, and is a picture.
    QImage photo(16, 16, QImage::Format_RGB32);
    photo.fill(Qt::gray);
    QVERIFY(photo.save(q(dir.file("photo.mp3")), "JPEG"));
    QCOMPARE(checkStartFile(q(dir.file("photo.mp3"))).kind, StartFileKind::Picture);
    const struct {
      const char* name;
      std::vector<std::uint8_t> bytes;
    } sounds[] = {
        {"a.flac", {'f', 'L', 'a', 'C', 0, 0, 0, 34}},
        {"a.ogg", {'O', 'g', 'g', 'S', 0, 2, 0, 0}},
        {"a.aiff", {'F', 'O', 'R', 'M', 0, 0, 0, 4, 'A', 'I', 'F', 'F'}},
        {"a.mp3", {'I', 'D', '3', 4, 0, 0}},
        {"b.mp3", {0xFF, 0xFB, 0x90, 0x64}},
        {"a.rf64", {'R', 'F', '6', '4', 0xFF, 0xFF, 0xFF, 0xFF, 'W', 'A', 'V', 'E'}},
    };
    for (const auto& sound : sounds) {
      test::writeFile(dir.file(sound.name), sound.bytes);
      QVERIFY2(checkStartFile(q(dir.file(sound.name))).kind == StartFileKind::Sound, sound.name);
    }
  }

  void unusableFilesSayWhy() {
    TempDir dir;
    test::writeFile(dir.file("notes.png"), {'h', 'e', 'l', 'l', 'o', '\n'});
    test::writeFile(dir.file("empty.wav"), {});
    // WebP is RIFF too, but not WAVE.
    test::writeFile(dir.file("riff.wav"), {'R', 'I', 'F', 'F', 4, 0, 0, 0, 'W', 'E', 'B', 'X'});
    const struct {
      std::string path;
      const char* reason;
    } cases[] = {
        {dir.file("notes.png"), "neither a picture nor a sound file"},
        {dir.file("riff.wav"), "neither a picture nor a sound file"},
        {dir.file("empty.wav"), "empty"},
        {dir.file("missing.png"), "No such file or directory"},
        {dir.path(), "Is a directory"},
    };
    for (const auto& c : cases) {
      const StartFileCheck check = checkStartFile(q(c.path));
      QCOMPARE(check.kind, StartFileKind::Unusable);
      QVERIFY2(check.reason.contains(c.reason), qPrintable(q(c.path) + ": " + check.reason));
    }
  }

  void theFirstPictureAndTheFirstSoundAreTakenInAnyOrder() {
    MisnamedFiles files;
    for (const QStringList& order : {QStringList{files.sound, files.picture}, QStringList{files.picture, files.sound}}) {
      const StartFiles sorted = sortStartFiles(order);
      QCOMPARE(sorted.picture, files.picture);
      QCOMPARE(sorted.sound, files.sound);
      QVERIFY(sorted.refusals.isEmpty());
    }
    const QString second = q(files.dir.file("second.png"));
    QVERIFY(QFile::copy(files.picture, second));
    const QString missing = q(files.dir.file("missing.wav"));
    const StartFiles sorted = sortStartFiles({files.picture, missing, second, files.sound});
    QCOMPARE(sorted.picture, files.picture);
    QCOMPARE(sorted.sound, files.sound);
    QCOMPARE(sorted.refusals.size(), 2);
    QVERIFY2(sorted.refusals[0].contains(missing) && sorted.refusals[0].contains("No such file"),
             qPrintable(sorted.refusals[0]));
    QVERIFY2(sorted.refusals[1].contains(second) && sorted.refusals[1].contains("only one picture"),
             qPrintable(sorted.refusals[1]));
    // A path longer than the file fields take is refused before it is read.
    const QString longPath = "/" + QString(600, 'a') + ".wav";
    const StartFiles tooLong = sortStartFiles({longPath});
    QVERIFY(tooLong.sound.isEmpty());
    QCOMPARE(tooLong.refusals.size(), 1);
    QVERIFY2(tooLong.refusals[0].contains("too long"), qPrintable(tooLong.refusals[0]));
  }

  void theWindowLoadsThePictureAndTakesTheSound() {
    MisnamedFiles files;
    test::MessageRecorder messages;
    MainWindow window;
    window.show();
    openStartFiles(window, sortStartFiles({files.sound, files.picture}));
    QVERIFY(messages.messages().empty());
    const MainWindowControls& c = window.controls();
    QVERIFY(c.generateButton->isEnabled());  // a picture is loaded
    QCOMPARE(window.session().picturePath, files.picture.toStdString());
    QVERIFY(c.waveFileRadio->isChecked());
    QCOMPARE(renderSettings.inputSource, InputSource::WaveFile);
    QCOMPARE(renderSettings.inputPath, files.sound.toStdString());
    QCOMPARE(c.inputPathEdit->text(), files.sound);
    QVERIFY(c.inputPathEdit->isVisible());
    QCOMPARE(inputWaveDuration, 1.0f);
  }

  void filesNotTakenAreNamedInOneMessage() {
    MisnamedFiles files;
    test::MessageRecorder messages;
    MainWindow window;
    window.show();
    const QString missing = q(files.dir.file("gone.png"));
    openStartFiles(window, sortStartFiles({missing, files.picture, files.picture}));
    QCOMPARE(messages.messages().size(), std::size_t{1});
    const test::ShownMessage& shown = messages.messages().front();
    QCOMPARE(shown.caption, errorCaption());
    QVERIFY(shown.boxType & kBoxIconError);
    QVERIFY2(q(shown.text).contains(missing) && q(shown.text).contains("only one picture"), shown.text.c_str());
    // What could be taken was taken all the same.
    QVERIFY(window.controls().generateButton->isEnabled());
    QCOMPARE(renderSettings.inputSource, InputSource::PinkNoise);
  }

  void aSoundTheReaderRefusesIsToldAsAChosenFileIs() {
    TempDir dir;
    // Three channels: no reader of the window takes them.
    test::writeFile(dir.file("three.wav"), test::waveBytes(std::vector<std::uint8_t>(600, 0), 3, 16, 44100));
    test::MessageRecorder messages;
    MainWindow window;
    window.show();
    openStartFiles(window, sortStartFiles({q(dir.file("three.wav"))}));
    QCOMPARE(messages.messages().size(), std::size_t{1});
    QCOMPARE(inputWaveDuration, 0.0f);
    QCOMPARE(renderSettings.inputPath, dir.file("three.wav"));
  }
};

QTEST_MAIN(StartTest)
#include "start_test.moc"
